// Unsigned integers stored in bytes, least or most significant byte first: the fields of RIFF,
// Ogg and APE headers (little-endian) and of MPEG frames and their Info tags (big-endian).
#pragma once

#include <cstddef>
#include <cstdint>

// The little-endian integer of width bytes (1 to 8) at bytes.
constexpr std::uint64_t read_le(const std::uint8_t* bytes, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}
constexpr std::uint16_t read_le16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(read_le(bytes, 2));
}
constexpr std::uint32_t read_le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(read_le(bytes, 4));
}
constexpr std::uint64_t read_le64(const std::uint8_t* bytes) { return read_le(bytes, 8); }

// The big-endian integer of width bytes (1 to 8) at bytes.
constexpr std::uint64_t read_be(const std::uint8_t* bytes, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) value = value << 8 | bytes[i];
  return value;
}
constexpr std::uint32_t read_be32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(read_be(bytes, 4));
}

// Stores the low width bytes (1 to 8) of value at out, least significant first.
constexpr void write_le(std::uint8_t* out, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Stores the low width bytes (1 to 8) of value at out, most significant first.
constexpr void write_be(std::uint8_t* out, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
}

// Appends the low width bytes (1 to 8) of value to a byte container (std::vector<std::uint8_t>,
// std::string), least significant first.
template <typename Bytes>
void append_le(Bytes& out, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) {
    out.push_back(static_cast<typename Bytes::value_type>(static_cast<std::uint8_t>(value >> (8 * i))));
  }
}
