// MPEG audio frame headers and the tags around them, parsed from bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

enum class MpegVersion { mpeg1, mpeg2, mpeg25 };

struct MpegFrameHeader {
  MpegVersion version = MpegVersion::mpeg1;
  int layer = 0;              // 1, 2 or 3
  bool protection = false;    // a 16-bit CRC follows the header
  int bitrate_kbps = 0;       // 0: free format, the length is not in the header
  int sample_rate = 0;        // Hz
  bool padding = false;
  int mode = 0;               // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  std::uint32_t frame_bytes = 0;  // 0 for free format
  std::uint32_t samples = 0;      // samples per channel that the frame decodes to

  bool free_format() const { return bitrate_kbps == 0; }
  // Two frames of one stream share version, layer and sampling rate.
  bool same_stream(const MpegFrameHeader& other) const {
    return version == other.version && layer == other.layer && sample_rate == other.sample_rate;
  }
};

// The header at the start of bytes (at least 4), or nullopt when the bytes cannot start a
// frame: no sync, a reserved version, layer or sampling rate, or the bad bit-rate index 15.
// Free-format headers (bit-rate index 0) are returned with frame_bytes 0.
std::optional<MpegFrameHeader> mpeg_parse_frame_header(std::span<const std::uint8_t> bytes);

// Bytes of the layer III side information: 17 or 32 for MPEG-1, 9 or 17 for MPEG-2 and 2.5.
std::size_t mpeg_side_info_bytes(const MpegFrameHeader& header);
// Where a layer III frame's main data area starts: after the header, the CRC and the side
// information. The areas of consecutive frames form the bit reservoir.
std::size_t mpeg_main_data_start(const MpegFrameHeader& header);
// How many bytes before its own area a layer III frame's main data begins (the side
// information's main_data_begin); frame holds at least the header, CRC and side information.
std::uint32_t mpeg_main_data_begin(const MpegFrameHeader& header, std::span<const std::uint8_t> frame);
// The CRC-16 of a protected layer III frame: over the header's last two bytes and the side
// information, the value that follows the header.
std::uint16_t mpeg_frame_crc(std::span<const std::uint8_t> frame, const MpegFrameHeader& header);

// True when the frame in bytes (starting with its header) is a Xing/Info frame: a layer III
// frame that carries stream information instead of audio.
bool mpeg_is_info_frame(const MpegFrameHeader& header, std::span<const std::uint8_t> frame);
// The number of audio frames (the Info frame not counted) that a Xing/Info frame announces;
// nullopt when frame is no such frame or its flags leave the count out.
std::optional<std::uint32_t> mpeg_info_frame_count(const MpegFrameHeader& header,
                                                   std::span<const std::uint8_t> frame);

// Bytes of the ID3v1 and APE tags at the end of a file, given its last bytes (up to 160
// are looked at). 0 when the file ends with audio.
std::uint64_t mpeg_trailer_size(std::span<const std::uint8_t> tail);
inline constexpr std::size_t MPEG_TRAILER_PROBE = 160;
