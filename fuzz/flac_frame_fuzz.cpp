// The FLAC frame header parser and the rewrite into a variable-blocksize frame, on arbitrary
// bytes: the first five give the new first sample (36 bits and some beyond), the rest is the
// frame. A header that parses rewrites whenever a CRC-16 fits after it, into a frame whose
// header parses back with the new number, whose subframes are the old ones, and whose CRC-16
// is right exactly as far as the old one was.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "formats/flac/flac_frame.h"
#include "fuzz_support.h"

using namespace tfold_fuzz;

namespace {

constexpr std::size_t NUMBER_BYTES = 5;

std::uint16_t crc_error(std::span<const std::uint8_t> frame) {
  const auto stored = static_cast<std::uint16_t>(frame[frame.size() - 2] << 8 | frame[frame.size() - 1]);
  return flac_crc16(frame.first(frame.size() - 2)) ^ stored;
}

void check_rewrite(std::span<const std::uint8_t> frame, std::uint64_t first) {
  const std::optional<FlacFrameHeader> header = flac_parse_frame_header(frame);
  std::vector<std::uint8_t> out;
  const bool rewritten = flac_rewrite_frame(frame, first, out);
  FUZZ_CHECK(rewritten == (header && frame.size() >= header->size + 2 && first <= FLAC_MAX_CODED_NUMBER));
  if (!header) return;
  FUZZ_CHECK(header->size <= FLAC_MAX_FRAME_HEADER && header->size <= frame.size());
  FUZZ_CHECK(header->number_size >= 1 && header->number_size <= 7);
  if (!rewritten) return;
  const std::optional<FlacFrameHeader> again = flac_parse_frame_header(out);
  FUZZ_CHECK(again && again->variable && again->number == first);
  FUZZ_CHECK(out.size() - again->size == frame.size() - header->size);
  FUZZ_CHECK(std::equal(out.begin() + static_cast<std::ptrdiff_t>(again->size), out.end() - 2,
                        frame.begin() + static_cast<std::ptrdiff_t>(header->size)));
  FUZZ_CHECK(crc_error(out) == crc_error(frame));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < NUMBER_BYTES) return 0;
  std::uint64_t first = 0;
  for (std::size_t i = 0; i < NUMBER_BYTES; ++i) first = first << 8 | data[i];
  // Five bytes reach beyond 36 bits: one in sixteen numbers must be refused.
  first &= (std::uint64_t{1} << 40) - 1;
  const std::span<const std::uint8_t> frame(data + NUMBER_BYTES, size - NUMBER_BYTES);
  check_rewrite(frame, first);
  // Zero bytes after a message move its CRC-16 as reading them does.
  const std::vector<std::uint8_t> zeros(data[0], 0);
  const std::uint16_t crc = flac_crc16(frame);
  FUZZ_CHECK(flac_crc16_zeros(crc, zeros.size()) == flac_crc16(zeros, crc));
  return 0;
}
