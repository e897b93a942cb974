#include "support/wav_builder.h"

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

}  // namespace tfold_test
