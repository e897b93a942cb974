// The bytes of one FLAC frame: its header, its two checksums, and the rewrite that moves a
// frame of any stream into a variable-blocksize stream at a first sample of its own. libFLAC
// decodes and encodes frames but offers none of this.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The longest frame header: sync and codes (4 bytes), a coded number of up to 7, an
// uncommon block size and sample rate of up to 2 each, the CRC-8.
constexpr std::size_t FLAC_MAX_FRAME_HEADER = 16;
// The coded number's longest form, 7 bytes, holds 36 bits: a sample number of any stream.
constexpr std::uint64_t FLAC_MAX_CODED_NUMBER = (std::uint64_t{1} << 36) - 1;

struct FlacFrameHeader {
  bool variable = false;        // variable blocking: number is the first sample, else the frame's index
  std::uint64_t number = 0;
  std::size_t number_size = 0;  // bytes of the coded number, which begins at byte 4
  std::size_t size = 0;         // bytes up to and including the CRC-8
};

// The frames' checksums: CRC-8 with polynomial 0x07 over the header, CRC-16 with 0x8005 over
// the whole frame but its last two bytes; both start at crc (0 for a frame), unreflected,
// with no final inversion.
std::uint8_t flac_crc8(std::span<const std::uint8_t> bytes, std::uint8_t crc = 0);
std::uint16_t flac_crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc = 0);
// The CRC-16 of the bytes whose CRC-16 is crc followed by `count` zero bytes, without
// going through them.
std::uint16_t flac_crc16_zeros(std::uint16_t crc, std::uint64_t count);

// The header at the start of bytes, or nullopt when there is none: no frame sync, a reserved
// code or bit, a coded number that is malformed or too long for its blocking strategy,
// fewer bytes than the header needs, a CRC-8 that does not match.
std::optional<FlacFrameHeader> flac_parse_frame_header(std::span<const std::uint8_t> bytes);

// value as a coded number (the scheme of UTF-8, stretched to 7 bytes): its bytes at the start
// of out and their count; 0 when value exceeds FLAC_MAX_CODED_NUMBER.
std::size_t flac_code_number(std::uint64_t value, std::array<std::uint8_t, 7>& out);

// frame, whole from its header to its CRC-16, as a frame of a variable-blocksize stream that
// begins at sample `first`: the strategy bit set, the coded number replaced by `first`, the
// header's CRC-8 computed anew and the CRC-16 updated from the frame's own (a frame whose
// CRC-16 was wrong stays wrong); the subframes stay as they are. Replaces out. false, with out
// untouched, when frame does not begin with a header, is too short to end in a CRC-16 after
// it, or first exceeds FLAC_MAX_CODED_NUMBER.
bool flac_rewrite_frame(std::span<const std::uint8_t> frame, std::uint64_t first,
                        std::vector<std::uint8_t>& out);
