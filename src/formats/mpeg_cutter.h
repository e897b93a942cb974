// The MPEG module's write_range: copies the whole frames of a range without decoding.
#pragma once

#include "formats/format.h"

// Writes the frames that hold PCM bytes [start, end) of an MPEG file (end 0: to the end).
// -1, with a warning and no output file left, when the stream cannot be cut or the output
// cannot be written; 0 otherwise.
int mpeg_write_range(AudioFile& file, const std::string& out_path, std::uint64_t start,
                     std::uint64_t end, std::uint32_t track_number, WriteProgressFunc progress,
                     void* user_data, const TrackTags* tags = nullptr);
