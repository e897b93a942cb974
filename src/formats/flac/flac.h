// FLAC, decoded and encoded through libFLAC. Its PCM is presented as little-endian samples at
// the stream's own bit depth, rounded up to whole bytes (8-bit unsigned, wider signed, a
// depth such as 20 bits at the top of its bytes), so every consumer reads it as it reads WAV.
#pragma once

#include <cstdint>
#include <span>

#include "formats/flac/flac_file.h"
#include "formats/format.h"

const FormatModule* flac_module();

// The two-way form of the module's open_file (see format_take_file). Opens a file that holds
// a FLAC stream at its start or behind ID3v2 tags, whatever its name; a stream that cannot be
// read or has a format no decoder can honour is damaged.
AudioFilePtr flac_open_file(const FormatModule& module, const std::string& path, ErrorText* error);
void flac_close_file(const FormatModule& module, AudioFilePtr file);
// PCM bytes from byte offset: buffer.size() unless the audio ends first (0 at its end). -1
// beyond the end, when the position cannot be reached, or when decoding fails before any
// byte was delivered (after one, the bytes so far). Decoding problems are logged as warnings
// naming the file.
std::int64_t flac_read_data(AudioFile& file, std::span<std::uint8_t> buffer, std::uint64_t offset);
// Decodes the PCM byte range [request.start, request.end) (end 0: to the end; offsets of whole
// sample frames, as format_block_offset gives them) and encodes it into request.out as a FLAC
// stream with the source's tags and pictures, request.tags in place of the source's fields of
// the same names; with request.frame_copy, a variable-blocksize stream of the source's own
// frames instead, only the partial ones at its ends encoded anew (flac_copy_track). Tracks of
// one file may be written at once from several threads. -1 with a warning naming request.path
// on failure.
int flac_write_range(AudioFile& file, const TrackRequest& request);
