// Raw big-endian CD audio: headerless 16-bit stereo at 44100 Hz, every byte is audio.
#pragma once

#include "formats/format.h"

struct CddaAudioFile final : AudioFile {
  std::uint64_t raw_size = 0;  // file size at opening; bounds read and write positions
};

const FormatModule* cdda_module();

// The two-way form of the module's open_file (see format_take_file): accepts only paths
// ending in ".cdda.raw" (any case); nullptr with a reason otherwise.
AudioFilePtr cdda_open_file(const FormatModule& module, const std::string& path, ErrorText* error);
void cdda_close_file(const FormatModule& module, AudioFilePtr file);
// Bytes read at offset, every complete 4-byte group swapped to little-endian samples;
// -1 when offset lies beyond the file or cannot be reached.
std::int64_t cdda_read_data(AudioFile& file, std::span<std::uint8_t> buffer, std::uint64_t offset);
// Copies [start, end) (end 0: to the end of the file) unchanged into request.out.
// 0 on success; -1 on failure.
int cdda_write_range(AudioFile& file, const TrackRequest& request);
