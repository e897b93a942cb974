#include "formats/ogg/ogg_crc.h"

#include <array>
#include <cstddef>

#include "formats/ogg/ogg_page.h"

namespace {

// The Ogg checksum is a CRC-32 with generator 0x04c11db7, sent most significant bit first,
// starting from 0 and not inverted at the end. With no start value and no final inversion it
// is linear: the checksum of a ^ b is the checksum of a ^ the checksum of b. A header change
// therefore moves the checksum by the checksum of the change followed by zero bytes, and a
// message followed by n zero bytes has the checksum of the message times x^(8n).
constexpr std::uint32_t GENERATOR = 0x04c11db7;
constexpr std::size_t CHECKSUM_BYTES = 4;

// a * b modulo the generator, both polynomials of degree below 32.
std::uint32_t multiply(std::uint32_t a, std::uint32_t b) {
  std::uint32_t product = 0;
  for (int bit = 31; bit >= 0; --bit) {
    product = (product << 1) ^ ((product & 0x80000000u) != 0 ? GENERATOR : 0);
    if ((b >> bit) & 1u) product ^= a;
  }
  return product;
}

// x^(8 * 2^k) modulo the generator, for shifting by 2^k zero bytes.
constexpr int SHIFTS = 40;
const std::array<std::uint32_t, SHIFTS>& zero_byte_powers() {
  static const std::array<std::uint32_t, SHIFTS> powers = [] {
    std::array<std::uint32_t, SHIFTS> table{};
    table[0] = 0x100;  // x^8
    for (int k = 1; k < SHIFTS; ++k) table[k] = multiply(table[k - 1], table[k - 1]);
    return table;
  }();
  return powers;
}

// The checksum of a message of checksum crc followed by `count` zero bytes.
std::uint32_t append_zero_bytes(std::uint32_t crc, std::uint64_t count) {
  const auto& powers = zero_byte_powers();
  for (int k = 0; count != 0 && k < SHIFTS; ++k, count >>= 1) {
    if ((count & 1u) != 0) crc = multiply(crc, powers[k]);
  }
  return crc;
}

std::uint32_t append_byte(std::uint32_t crc, unsigned char byte) {
  crc ^= std::uint32_t{byte} << 24;
  for (int bit = 0; bit < 8; ++bit) crc = (crc << 1) ^ ((crc & 0x80000000u) != 0 ? GENERATOR : 0);
  return crc;
}

}  // namespace

std::uint32_t ogg_crc_after_header_change(std::uint32_t crc, std::span<const unsigned char> before,
                                          std::span<const unsigned char> after,
                                          std::uint64_t page_bytes) {
  // The checksum of the change: the bytes before its first difference add nothing, and those
  // after its last are zero bytes.
  auto differs = [&](std::size_t i) {
    const bool checksum_field = i >= OGG_CHECKSUM_AT && i < OGG_CHECKSUM_AT + CHECKSUM_BYTES;
    return !checksum_field && before[i] != after[i];
  };
  std::size_t first = 0;
  while (first < before.size() && !differs(first)) ++first;
  if (first == before.size()) return crc;
  std::size_t end = before.size();
  while (!differs(end - 1)) --end;
  std::uint32_t change = 0;
  for (std::size_t i = first; i < end; ++i) change = append_byte(change, differs(i) ? before[i] ^ after[i] : 0);
  return crc ^ append_zero_bytes(change, page_bytes - end);
}
