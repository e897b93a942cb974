// Builds WAV files byte by byte, so a test states exactly which header it means.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/harness.h"

namespace tfold_test {

void append_le16(Bytes& out, std::uint32_t value);
void append_le32(Bytes& out, std::uint32_t value);
void append_text(Bytes& out, const std::string& text);
// A chunk: id, the declared size (by default the contents' size) and the contents.
void append_chunk(Bytes& out, const std::string& id, const Bytes& contents);
void append_chunk_declared(Bytes& out, const std::string& id, std::uint32_t declared, const Bytes& contents);

// A chunk as RIFF wants it: followed by a pad byte when its size is odd.
void append_padded_chunk(Bytes& out, const std::string& id, const Bytes& contents);

// The 16 bytes of a format chunk.
Bytes fmt_contents(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                   std::uint32_t avg_bytes, std::uint16_t block_align, std::uint16_t bits);
Bytes pcm_fmt(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits);

// The 40 bytes of a WAVE_FORMAT_EXTENSIBLE format chunk; sub-format 1 is integer PCM.
Bytes extensible_fmt(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                     std::uint16_t valid_bits, std::uint32_t channel_mask, std::uint16_t sub_format = 1);
// The contents of an RF64 ds64 chunk: the 64-bit sizes, then (chunk id, size) table entries.
Bytes ds64_contents(std::uint64_t riff_size, std::uint64_t data_size, std::uint64_t sample_count,
                    const std::vector<std::pair<std::string, std::uint64_t>>& table = {});

// "RIFF" size "WAVE" followed by the given chunks (already encoded).
Bytes riff_wave(const Bytes& chunks);
// "RF64" (or "BW64") with its RIFF size all ones, "WAVE", then the chunks (ds64 among them).
Bytes rf64_wave(const Bytes& chunks, const std::string& magic = "RF64");
// A canonical 44-byte-header file holding the data.
Bytes canonical_wav(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, const Bytes& data);

// Data whose every byte tells its position, so a slice shows where it came from.
Bytes counting_bytes(std::size_t count, std::uint32_t seed = 0);

// The sample bytes of a fixture WAV: what follows its "data" chunk header.
Bytes wav_samples(const std::string& fixture_name);

}  // namespace tfold_test
