// MPEG audio layers I/II/III: decoding through libmpg123, cutting by whole frames.
#pragma once

#include <cstdint>
#include <optional>

#include "formats/format.h"
#include "formats/mpeg/mpeg_file.h"
#include "formats/mpeg/mpeg_index.h"

// What gapless decoding trims, as the decoder read it from an Info frame's encoder tag.
struct MpegGapless {
  std::uint64_t encoder_delay = 0;
  std::uint64_t decoder_delay = 0;
  std::optional<std::uint64_t> padding;  // samples the encoder added at the end
};

// The samples per channel that libmpg123 delivers from the indexed frames, with gapless
// (nullopt: no gapless trim) as the decoder reports it. nullopt when the index cannot tell:
// no frames, a free-format stream, or a gapless trim whose end the Info frame leaves open.
std::optional<std::uint64_t> mpeg_decoded_samples(const MpegFrameIndex& index,
                                                  const std::optional<MpegGapless>& gapless);

// Initialises libmpg123 once; the descriptor, or nullptr when the library cannot start.
const FormatModule* mpeg_module();

// The two-way form of the module's open_file (see format_take_file): the file, or nullptr
// with the reason. Only paths ending in ".mp3" or ".mp2" (any case) are tried.
AudioFilePtr mpeg_open_file(const FormatModule& module, const std::string& path, ErrorText* error);
void mpeg_close_file(const FormatModule& module, AudioFilePtr file);
std::int64_t mpeg_read_data(AudioFile& file, std::span<std::uint8_t> buffer, std::uint64_t offset);
