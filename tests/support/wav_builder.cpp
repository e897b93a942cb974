#include "support/wav_builder.h"

#include <gtest/gtest.h>

namespace tfold_test {

void append_le16(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void append_le32(Bytes& out, std::uint32_t value) {
  append_le16(out, value);
  append_le16(out, value >> 16);
}

void append_text(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

void append_chunk_declared(Bytes& out, const std::string& id, std::uint32_t declared, const Bytes& contents) {
  append_text(out, id);
  append_le32(out, declared);
  out.insert(out.end(), contents.begin(), contents.end());
}

void append_chunk(Bytes& out, const std::string& id, const Bytes& contents) {
  append_chunk_declared(out, id, static_cast<std::uint32_t>(contents.size()), contents);
}

void append_padded_chunk(Bytes& out, const std::string& id, const Bytes& contents) {
  append_chunk(out, id, contents);
  if (contents.size() % 2 != 0) out.push_back(0);
}

Bytes fmt_contents(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                   std::uint32_t avg_bytes, std::uint16_t block_align, std::uint16_t bits) {
  Bytes out;
  append_le16(out, tag);
  append_le16(out, channels);
  append_le32(out, rate);
  append_le32(out, avg_bytes);
  append_le16(out, block_align);
  append_le16(out, bits);
  return out;
}

Bytes pcm_fmt(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  const std::uint16_t align = static_cast<std::uint16_t>(channels * (bits / 8));
  return fmt_contents(1, channels, rate, rate * align, align, bits);
}

Bytes extensible_fmt(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                     std::uint16_t valid_bits, std::uint32_t channel_mask, std::uint16_t sub_format) {
  const std::uint16_t align = static_cast<std::uint16_t>(channels * (bits / 8));
  Bytes out = fmt_contents(0xFFFE, channels, rate, rate * align, align, bits);
  append_le16(out, 22);  // the size of the extension
  append_le16(out, valid_bits);
  append_le32(out, channel_mask);
  append_le16(out, sub_format);
  const std::uint8_t guid_tail[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  out.insert(out.end(), std::begin(guid_tail), std::end(guid_tail));
  return out;
}

namespace {
void append_le64(Bytes& out, std::uint64_t value) {
  append_le32(out, static_cast<std::uint32_t>(value));
  append_le32(out, static_cast<std::uint32_t>(value >> 32));
}
}  // namespace

Bytes ds64_contents(std::uint64_t riff_size, std::uint64_t data_size, std::uint64_t sample_count,
                    const std::vector<std::pair<std::string, std::uint64_t>>& table) {
  Bytes out;
  append_le64(out, riff_size);
  append_le64(out, data_size);
  append_le64(out, sample_count);
  append_le32(out, static_cast<std::uint32_t>(table.size()));
  for (const auto& [id, size] : table) {
    append_text(out, id);
    append_le64(out, size);
  }
  return out;
}

Bytes rf64_wave(const Bytes& chunks, const std::string& magic) {
  Bytes out;
  append_text(out, magic);
  append_le32(out, 0xFFFFFFFF);
  append_text(out, "WAVE");
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

Bytes riff_wave(const Bytes& chunks) {
  Bytes out;
  append_text(out, "RIFF");
  append_le32(out, static_cast<std::uint32_t>(chunks.size() + 4));
  append_text(out, "WAVE");
  out.insert(out.end(), chunks.begin(), chunks.end());
  return out;
}

Bytes canonical_wav(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, const Bytes& data) {
  Bytes chunks;
  append_chunk(chunks, "fmt ", pcm_fmt(channels, rate, bits));
  append_chunk(chunks, "data", data);
  return riff_wave(chunks);
}

Bytes counting_bytes(std::size_t count, std::uint32_t seed) {
  Bytes out(count);
  std::uint32_t state = seed * 2654435761u + 12345u;
  for (std::size_t i = 0; i < count; ++i) {
    state = state * 1103515245u + 12345u;
    out[i] = static_cast<std::uint8_t>((state >> 16) ^ i);
  }
  return out;
}

Bytes wav_samples(const std::string& name) {
  const Bytes wav = read_file(fixture(name));
  for (std::size_t i = 12; i + 8 <= wav.size();) {
    const std::size_t size = wav[i + 4] | wav[i + 5] << 8 | wav[i + 6] << 16 | static_cast<std::size_t>(wav[i + 7]) << 24;
    if (std::string(wav.begin() + static_cast<long>(i), wav.begin() + static_cast<long>(i) + 4) == "data") {
      return slice(wav, i + 8, size);
    }
    i += 8 + size + (size & 1);
  }
  ADD_FAILURE() << "no data chunk in " << name;
  return {};
}

}  // namespace tfold_test
