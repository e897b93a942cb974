#include "formats/mpeg/mpeg_info_tag.h"

#include <algorithm>

#include "formats/mpeg/mpeg_frame.h"
#include "io/byte_order.h"

namespace {

constexpr std::size_t XING_BYTES = 120;  // name, flags, frames, bytes, TOC and quality
constexpr std::size_t LAME_BYTES = 36;
constexpr std::size_t LAME_CRC_AT = 34;  // the extension's CRC covers the frame up to here
constexpr std::uint32_t FLAG_FRAMES = 1;
constexpr std::uint32_t FLAG_BYTES = 2;
constexpr std::uint32_t FLAG_TOC = 4;
constexpr std::uint32_t FLAG_QUALITY = 8;
constexpr std::array<std::uint8_t, 4> NAME_INFO = {'I', 'n', 'f', 'o'};
constexpr std::array<std::uint8_t, 4> NAME_XING = {'X', 'i', 'n', 'g'};

// Table k holds the CRC of a byte followed by k zero bytes, so that eight bytes go through at
// once: the music CRC runs over every byte of a track.
using CrcTables = std::array<std::array<std::uint16_t, 256>, 8>;
constexpr CrcTables crc_tables() {
  CrcTables tables{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    tables[0][byte] = static_cast<std::uint16_t>(crc);
  }
  for (std::size_t k = 1; k < tables.size(); ++k) {
    for (std::size_t byte = 0; byte < 256; ++byte) {
      const std::uint16_t previous = tables[k - 1][byte];
      tables[k][byte] = static_cast<std::uint16_t>((previous >> 8) ^ tables[0][previous & 0xFF]);
    }
  }
  return tables;
}
constexpr CrcTables CRC_TABLES = crc_tables();

// Big-endian fields, as everything in the tag is.
class Writer {
 public:
  Writer(std::vector<std::uint8_t>& bytes, std::size_t at) : bytes_(bytes), at_(at) {}
  void put(std::uint32_t value, int width) {
    write_be(bytes_.data() + at_, value, width);
    at_ += static_cast<std::size_t>(width);
  }
  void put(std::span<const std::uint8_t> run) {
    std::copy(run.begin(), run.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at_));
    at_ += run.size();
  }
  void skip(std::size_t count) { at_ += count; }
  std::size_t at() const { return at_; }

 private:
  std::vector<std::uint8_t>& bytes_;
  std::size_t at_;
};

class Reader {
 public:
  Reader(std::span<const std::uint8_t> bytes, std::size_t at) : bytes_(bytes), at_(at) {}
  bool has(std::size_t count) const { return at_ + count <= bytes_.size(); }
  std::uint32_t get(int width) {
    const auto value = static_cast<std::uint32_t>(read_be(bytes_.data() + at_, width));
    at_ += static_cast<std::size_t>(width);
    return value;
  }
  std::span<const std::uint8_t> take(std::size_t count) {
    const auto run = bytes_.subspan(at_, count);
    at_ += count;
    return run;
  }
  std::size_t at() const { return at_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_;
};

std::optional<MpegFrameHeader> layer3_header(std::span<const std::uint8_t, 4> header) {
  const auto parsed = mpeg_parse_frame_header(header);
  if (!parsed || parsed->layer != 3 || parsed->free_format()) return std::nullopt;
  return parsed;
}

void write_lame_extension(Writer& out, const MpegInfoTag& tag) {
  std::array<std::uint8_t, 9> encoder{};
  std::copy_n(tag.encoder.begin(), std::min(tag.encoder.size(), encoder.size()), encoder.begin());
  out.put(encoder);
  out.put(tag.revision_and_method, 1);
  out.put(tag.lowpass, 1);
  out.skip(8);  // peak and the two replay gains
  out.put(tag.encoding_flags, 1);
  out.put(tag.bitrate, 1);
  out.put(std::uint32_t{tag.delay} << 12 | (tag.padding & 0xFFFu), 3);
  out.put(tag.misc, 1);
  out.skip(1);  // MP3 gain
  out.put(tag.preset, 2);
  out.put(tag.music_length, 4);
  out.put(tag.music_crc, 2);
}

void read_lame_extension(Reader& in, MpegInfoTag& tag) {
  const auto encoder = in.take(9);
  tag.encoder.assign(encoder.begin(), std::find(encoder.begin(), encoder.end(), 0));
  tag.revision_and_method = static_cast<std::uint8_t>(in.get(1));
  tag.lowpass = static_cast<std::uint8_t>(in.get(1));
  in.take(8);
  tag.encoding_flags = static_cast<std::uint8_t>(in.get(1));
  tag.bitrate = static_cast<std::uint8_t>(in.get(1));
  const std::uint32_t delays = in.get(3);
  tag.delay = static_cast<std::uint16_t>(delays >> 12);
  tag.padding = static_cast<std::uint16_t>(delays & 0xFFF);
  tag.misc = static_cast<std::uint8_t>(in.get(1));
  in.take(1);
  tag.preset = static_cast<std::uint16_t>(in.get(2));
  tag.music_length = in.get(4);
  tag.music_crc = static_cast<std::uint16_t>(in.get(2));
}

}  // namespace

std::uint16_t mpeg_lame_crc(std::span<const std::uint8_t> bytes, std::uint16_t crc) {
  const auto& t = CRC_TABLES;
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  for (; left >= 8; left -= 8, p += 8) {
    const std::uint32_t low = crc ^ (p[0] | std::uint32_t{p[1]} << 8);
    crc = static_cast<std::uint16_t>(t[7][low & 0xFF] ^ t[6][low >> 8] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^
                                     t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]]);
  }
  for (; left > 0; --left, ++p) crc = static_cast<std::uint16_t>((crc >> 8) ^ t[0][(crc ^ *p) & 0xFF]);
  return crc;
}

std::size_t mpeg_info_frame_min_bytes(std::span<const std::uint8_t, 4> header) {
  const auto parsed = mpeg_parse_frame_header(header);
  if (!parsed) return 0;
  return 4 + mpeg_side_info_bytes(*parsed) + XING_BYTES + LAME_BYTES;
}

std::vector<std::uint8_t> mpeg_info_frame(std::span<const std::uint8_t, 4> header, const MpegInfoTag& tag) {
  std::array<std::uint8_t, 4> unprotected{header[0], static_cast<std::uint8_t>(header[1] | 1), header[2],
                                          header[3]};
  const auto parsed = layer3_header(unprotected);
  if (!parsed || parsed->frame_bytes < mpeg_info_frame_min_bytes(unprotected)) return {};

  std::vector<std::uint8_t> frame(parsed->frame_bytes, 0);
  std::copy(unprotected.begin(), unprotected.end(), frame.begin());
  Writer out(frame, 4 + mpeg_side_info_bytes(*parsed));
  out.put(tag.constant_bitrate ? NAME_INFO : NAME_XING);
  out.put(FLAG_FRAMES | FLAG_BYTES | FLAG_TOC | FLAG_QUALITY, 4);
  out.put(tag.frames, 4);
  out.put(tag.bytes, 4);
  out.put(tag.toc);
  out.put(tag.quality, 4);
  write_lame_extension(out, tag);
  out.put(mpeg_lame_crc(std::span(frame).first(out.at())), 2);
  return frame;
}

std::optional<MpegInfoTag> mpeg_info_tag_parse(std::span<const std::uint8_t> frame) {
  if (frame.size() < 4) return std::nullopt;
  const auto header = mpeg_parse_frame_header(frame);
  if (!header || !mpeg_is_info_frame(*header, frame)) return std::nullopt;
  Reader in(frame, 4 + mpeg_side_info_bytes(*header));
  MpegInfoTag tag;
  tag.constant_bitrate = std::ranges::equal(in.take(4), NAME_INFO);
  if (!in.has(4)) return tag;
  const std::uint32_t flags = in.get(4);
  if ((flags & FLAG_FRAMES) != 0 && in.has(4)) tag.frames = in.get(4);
  if ((flags & FLAG_BYTES) != 0 && in.has(4)) tag.bytes = in.get(4);
  if ((flags & FLAG_TOC) != 0 && in.has(100)) std::ranges::copy(in.take(100), tag.toc.begin());
  if ((flags & FLAG_QUALITY) != 0 && in.has(4)) tag.quality = in.get(4);
  // Encoders that write no extension leave the bytes after the Xing part zero.
  if (!in.has(LAME_BYTES) || frame[in.at()] == 0) return tag;
  const std::size_t crc_at = in.at() + LAME_CRC_AT;
  tag.lame = true;
  read_lame_extension(in, tag);
  tag.tag_crc_matches = mpeg_lame_crc(frame.first(crc_at)) == read_be(frame.data() + crc_at, 2);
  return tag;
}
