// Ogg Vorbis, decoded through libvorbisfile into signed 16-bit little-endian PCM.
#pragma once

#include "formats/format.h"

const FormatModule* ogg_module();

// The two-way form of the module's open_file (see format_take_file). Opens any file
// libvorbisfile accepts, whatever its name. A chained file is accepted only when every link
// has the same rate and channel count; one whose links differ is damaged.
AudioFilePtr ogg_open_file(const FormatModule& module, const std::string& path, ErrorText* error);
void ogg_close_file(const FormatModule& module, AudioFilePtr file);
// Decoded bytes from PCM byte offset: buffer.size() bytes unless the stream ends first (0 at
// its end). -1 beyond the end, when the position cannot be reached, or on a decoding error
// before any byte was delivered (after one, the bytes delivered so far).
std::int64_t ogg_read_data(AudioFile& file, std::span<std::uint8_t> buffer, std::uint64_t offset);
// Writes the samples of PCM bytes [request.start, request.end) (end 0: to the end) into
// request.out as an Ogg Vorbis file that decodes to exactly those samples, without re-encoding
// (see ogg_cutter.h), its comments the source's less those of the whole source, merged with
// request.tags. 0, or -1 with a warning.
int ogg_write_range(AudioFile& file, const TrackRequest& request);
