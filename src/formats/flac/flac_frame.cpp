#include "formats/flac/flac_frame.h"

#include <algorithm>

namespace {

constexpr std::uint16_t CRC16_POLYNOMIAL = 0x8005;
constexpr std::uint8_t CRC8_POLYNOMIAL = 0x07;
constexpr std::size_t CODED_NUMBER_AT = 4;
constexpr std::size_t CRC16_SIZE = 2;

constexpr std::array<std::uint16_t, 256> crc16_table() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    auto crc = static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ CRC16_POLYNOMIAL : crc << 1);
    }
    table[byte] = crc;
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> crc8_table() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    auto crc = static_cast<std::uint8_t>(byte);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ CRC8_POLYNOMIAL : crc << 1);
    }
    table[byte] = crc;
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> CRC16_TABLE = crc16_table();
constexpr std::array<std::uint8_t, 256> CRC8_TABLE = crc8_table();

// a × b modulo the CRC-16 polynomial, over GF(2).
std::uint16_t crc16_multiply(std::uint16_t a, std::uint16_t b) {
  std::uint16_t product = 0;
  for (int bit = 15; bit >= 0; --bit) {
    product = static_cast<std::uint16_t>((product & 0x8000) ? (product << 1) ^ CRC16_POLYNOMIAL
                                                            : product << 1);
    if ((b >> bit) & 1) product ^= a;
  }
  return product;
}

// Bytes of the coded number that the first byte announces; 0 when it announces none.
std::size_t coded_number_size(std::uint8_t first) {
  if ((first & 0x80) == 0) return 1;
  for (std::size_t size = 2; size <= 7; ++size) {
    const auto prefix = static_cast<std::uint8_t>(0xFF << (8 - size));
    const auto mask = static_cast<std::uint8_t>(0xFF << (7 - size));
    if ((first & mask) == prefix) return size;
  }
  return 0;
}

std::optional<std::uint64_t> coded_number(std::span<const std::uint8_t> bytes, std::size_t size) {
  std::uint64_t value = size == 1 ? bytes[0] : bytes[0] & (0x7Fu >> size);
  for (std::size_t i = 1; i < size; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return std::nullopt;
    value = value << 6 | (bytes[i] & 0x3Fu);
  }
  return value;
}

// Bytes that follow the coded number for an uncommon block size or sample rate.
std::size_t extra_size(std::uint8_t codes) {
  const unsigned block = codes >> 4;
  const unsigned rate = codes & 0x0F;
  std::size_t size = block == 6 ? 1 : block == 7 ? 2 : 0;
  size += rate == 12 ? 1 : (rate == 13 || rate == 14) ? 2 : 0;
  return size;
}

bool reserved_codes(std::span<const std::uint8_t> head) {
  if (head[0] != 0xFF || (head[1] & 0xFE) != 0xF8) return true;
  if ((head[2] >> 4) == 0 || (head[2] & 0x0F) == 0x0F) return true;
  const unsigned channels = head[3] >> 4;
  const unsigned depth = (head[3] >> 1) & 0x07;
  return channels > 10 || depth == 3 || (head[3] & 1) != 0;
}

}  // namespace

std::uint8_t flac_crc8(std::span<const std::uint8_t> bytes, std::uint8_t crc) {
  for (const std::uint8_t byte : bytes) crc = CRC8_TABLE[crc ^ byte];
  return crc;
}

std::uint16_t flac_crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc) {
  for (const std::uint8_t byte : bytes) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ CRC16_TABLE[(crc >> 8) ^ byte]);
  }
  return crc;
}

std::uint16_t flac_crc16_zeros(std::uint16_t crc, std::uint64_t count) {
  // Zero bytes after a message multiply its remainder by x^(8 count): squaring x^8 along the
  // bits of count takes as many steps as count has bits.
  std::uint16_t power = 0x0100;
  for (; count != 0; count >>= 1) {
    if (count & 1) crc = crc16_multiply(crc, power);
    power = crc16_multiply(power, power);
  }
  return crc;
}

std::optional<FlacFrameHeader> flac_parse_frame_header(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < CODED_NUMBER_AT + 1 || reserved_codes(bytes)) return std::nullopt;
  FlacFrameHeader header;
  header.variable = (bytes[1] & 1) != 0;
  header.number_size = coded_number_size(bytes[CODED_NUMBER_AT]);
  // A frame index has at most 31 bits (6 bytes), a sample number 36 (7 bytes).
  if (header.number_size == 0 || (!header.variable && header.number_size > 6)) return std::nullopt;
  header.size = CODED_NUMBER_AT + header.number_size + extra_size(bytes[2]) + 1;
  if (bytes.size() < header.size) return std::nullopt;
  const std::optional<std::uint64_t> number =
      coded_number(bytes.subspan(CODED_NUMBER_AT, header.number_size), header.number_size);
  if (!number) return std::nullopt;
  header.number = *number;
  if (flac_crc8(bytes.first(header.size - 1)) != bytes[header.size - 1]) return std::nullopt;
  return header;
}

std::size_t flac_code_number(std::uint64_t value, std::array<std::uint8_t, 7>& out) {
  if (value > FLAC_MAX_CODED_NUMBER) return 0;
  if (value < 0x80) {
    out[0] = static_cast<std::uint8_t>(value);
    return 1;
  }
  // n bytes carry 5n + 1 bits: 7 - n in the first, 6 in each that follows.
  std::size_t size = 2;
  while (size < 7 && value >> (5 * size + 1) != 0) ++size;
  for (std::size_t i = size - 1; i > 0; --i) {
    out[i] = static_cast<std::uint8_t>(0x80 | (value & 0x3F));
    value >>= 6;
  }
  out[0] = static_cast<std::uint8_t>((0xFF << (8 - size)) | value);
  return size;
}

bool flac_rewrite_frame(std::span<const std::uint8_t> frame, std::uint64_t first,
                        std::vector<std::uint8_t>& out) {
  const std::optional<FlacFrameHeader> header = flac_parse_frame_header(frame);
  if (!header || frame.size() < header->size + CRC16_SIZE) return false;
  std::array<std::uint8_t, 7> number{};
  const std::size_t number_size = flac_code_number(first, number);
  if (number_size == 0) return false;

  std::array<std::uint8_t, FLAC_MAX_FRAME_HEADER> head{};
  std::copy_n(frame.begin(), CODED_NUMBER_AT, head.begin());
  head[1] |= 1;
  std::copy_n(number.begin(), number_size, head.begin() + CODED_NUMBER_AT);
  const std::size_t extra = header->size - 1 - CODED_NUMBER_AT - header->number_size;
  std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(CODED_NUMBER_AT + header->number_size),
              extra, head.begin() + static_cast<std::ptrdiff_t>(CODED_NUMBER_AT + number_size));
  const std::size_t head_size = CODED_NUMBER_AT + number_size + extra + 1;
  head[head_size - 1] = flac_crc8(std::span(head).first(head_size - 1));

  // The CRC-16 of header and body is the header's, carried over the body's length, plus the
  // body's own: exchanging headers changes the first part only.
  const std::span<const std::uint8_t> body =
      frame.subspan(header->size, frame.size() - header->size - CRC16_SIZE);
  const std::uint16_t change = flac_crc16(frame.first(header->size)) ^
                               flac_crc16(std::span(head).first(head_size));
  const auto stored = static_cast<std::uint16_t>(frame[frame.size() - 2] << 8 | frame[frame.size() - 1]);
  const std::uint16_t crc = stored ^ flac_crc16_zeros(change, body.size());

  out.resize(head_size + body.size() + CRC16_SIZE);
  std::copy_n(head.begin(), head_size, out.begin());
  std::copy(body.begin(), body.end(), out.begin() + static_cast<std::ptrdiff_t>(head_size));
  out[out.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
  out[out.size() - 1] = static_cast<std::uint8_t>(crc);
  return true;
}
