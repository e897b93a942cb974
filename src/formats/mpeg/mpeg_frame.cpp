#include "formats/mpeg/mpeg_frame.h"

#include <cstring>

#include "io/byte_order.h"

namespace {

// Bit rates in kbps by bit-rate index 1..14 (ISO/IEC 11172-3 and 13818-3).
constexpr int BITRATES_MPEG1[3][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // layer III
};
// MPEG-2 and MPEG-2.5 share one table for layer I and one for layers II and III.
constexpr int BITRATES_MPEG2[2][15] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},  // layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},       // layers II, III
};
constexpr int SAMPLE_RATES[3][3] = {
    {44100, 48000, 32000},  // MPEG-1
    {22050, 24000, 16000},  // MPEG-2
    {11025, 12000, 8000},   // MPEG-2.5
};

int bitrate_kbps(MpegVersion version, int layer, unsigned index) {
  if (version == MpegVersion::mpeg1) return BITRATES_MPEG1[layer - 1][index];
  return BITRATES_MPEG2[layer == 1 ? 0 : 1][index];
}

std::uint32_t samples_per_frame(MpegVersion version, int layer) {
  if (layer == 1) return 384;
  if (layer == 2 || version == MpegVersion::mpeg1) return 1152;
  return 576;
}

std::uint32_t frame_bytes(const MpegFrameHeader& h) {
  const std::uint32_t bits_per_second = static_cast<std::uint32_t>(h.bitrate_kbps) * 1000;
  const std::uint32_t rate = static_cast<std::uint32_t>(h.sample_rate);
  const std::uint32_t pad = h.padding ? 1 : 0;
  // Layer I counts in 4-byte slots; the others in bytes.
  if (h.layer == 1) return (12 * bits_per_second / rate + pad) * 4;
  // A frame holds samples/8 bytes per bit per second of rate.
  return h.samples / 8 * bits_per_second / rate + pad;
}

// Size of an APE tag whose 32-byte footer starts at footer, or 0 when there is none.
std::uint64_t ape_tag_size(const std::uint8_t* footer) {
  if (std::memcmp(footer, "APETAGEX", 8) != 0) return 0;
  const std::uint64_t size = read_le32(footer + 12);  // items and footer
  const bool has_header = (read_le32(footer + 20) & 0x80000000u) != 0;
  return size + (has_header ? 32 : 0);
}

}  // namespace

std::optional<MpegFrameHeader> mpeg_parse_frame_header(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return std::nullopt;
  if (bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) return std::nullopt;
  const unsigned version_bits = (bytes[1] >> 3) & 3;
  const unsigned layer_bits = (bytes[1] >> 1) & 3;
  const unsigned bitrate_index = bytes[2] >> 4;
  const unsigned rate_index = (bytes[2] >> 2) & 3;
  if (version_bits == 1 || layer_bits == 0 || bitrate_index == 15 || rate_index == 3) {
    return std::nullopt;
  }
  MpegFrameHeader h;
  h.version = version_bits == 3 ? MpegVersion::mpeg1
              : version_bits == 2 ? MpegVersion::mpeg2
                                  : MpegVersion::mpeg25;
  h.layer = 4 - static_cast<int>(layer_bits);
  h.protection = (bytes[1] & 1) == 0;
  h.bitrate_kbps = bitrate_kbps(h.version, h.layer, bitrate_index);
  h.sample_rate = SAMPLE_RATES[static_cast<int>(h.version)][rate_index];
  h.padding = (bytes[2] & 2) != 0;
  h.mode = bytes[3] >> 6;
  h.samples = samples_per_frame(h.version, h.layer);
  h.frame_bytes = h.free_format() ? 0 : frame_bytes(h);
  return h;
}

std::size_t mpeg_side_info_bytes(const MpegFrameHeader& header) {
  const bool mono = header.mode == 3;
  if (header.version == MpegVersion::mpeg1) return mono ? 17 : 32;
  return mono ? 9 : 17;
}

std::size_t mpeg_main_data_start(const MpegFrameHeader& header) {
  return 4 + (header.protection ? 2 : 0) + mpeg_side_info_bytes(header);
}

std::uint32_t mpeg_main_data_begin(const MpegFrameHeader& header, std::span<const std::uint8_t> frame) {
  const std::size_t at = header.protection ? 6 : 4;
  if (frame.size() < at + 2) return 0;
  // 9 bits in MPEG-1, 8 in MPEG-2 and 2.5, whose reservoir is half as deep.
  if (header.version == MpegVersion::mpeg1) return std::uint32_t{frame[at]} << 1 | frame[at + 1] >> 7;
  return frame[at];
}

std::uint16_t mpeg_frame_crc(std::span<const std::uint8_t> frame, const MpegFrameHeader& header) {
  std::uint16_t crc = 0xFFFF;
  const auto feed = [&crc](std::uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool top = (crc & 0x8000) != 0;
      crc = static_cast<std::uint16_t>(crc << 1);
      if (top != (((byte >> bit) & 1) != 0)) crc ^= 0x8005;
    }
  };
  feed(frame[2]);
  feed(frame[3]);
  const std::size_t side_info = mpeg_side_info_bytes(header);
  for (std::size_t i = 0; i < side_info; ++i) feed(frame[6 + i]);
  return crc;
}

bool mpeg_is_info_frame(const MpegFrameHeader& header, std::span<const std::uint8_t> frame) {
  if (header.layer != 3) return false;
  // The tag follows the side information as if there were no CRC: encoders write it there
  // and decoders look for it there, whether the protection bit is set or not.
  const std::size_t at = 4 + mpeg_side_info_bytes(header);
  if (frame.size() < at + 4) return false;
  const auto* tag = frame.data() + at;
  return std::memcmp(tag, "Xing", 4) == 0 || std::memcmp(tag, "Info", 4) == 0;
}

std::optional<std::uint32_t> mpeg_info_frame_count(const MpegFrameHeader& header,
                                                   std::span<const std::uint8_t> frame) {
  if (!mpeg_is_info_frame(header, frame)) return std::nullopt;
  // The tag (where mpeg_is_info_frame found it, CRC or not) is followed by big-endian flags;
  // bit 0 announces the frame count after them.
  const std::size_t flags_at = 4 + mpeg_side_info_bytes(header) + 4;
  if (frame.size() < flags_at + 8) return std::nullopt;
  const std::uint8_t* flags = frame.data() + flags_at;
  if ((flags[3] & 0x01) == 0) return std::nullopt;
  return read_be32(flags + 4);
}

std::uint64_t mpeg_trailer_size(std::span<const std::uint8_t> tail) {
  std::uint64_t size = 0;
  std::size_t end = tail.size();
  if (end >= 128 && std::memcmp(tail.data() + end - 128, "TAG", 3) == 0) {
    size += 128;
    end -= 128;
  }
  if (end >= 32) size += ape_tag_size(tail.data() + end - 32);
  return size;
}
