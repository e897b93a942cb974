#include "formats/mpeg/mpeg_info_tag.h"

#include <gtest/gtest.h>

#include <array>
#include <string_view>
#include <vector>

#include "support/harness.h"

namespace {

using tfold_test::Bytes;
using tfold_test::fixture;
using tfold_test::read_file;

TEST(MpegInfoTag, CrcIsTheArcChecksumFedInPieces) {
  constexpr std::string_view check = "123456789";
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(check.data()), check.size());
  EXPECT_EQ(mpeg_lame_crc(bytes), 0xBB3D);
  EXPECT_EQ(mpeg_lame_crc(bytes.subspan(4), mpeg_lame_crc(bytes.first(4))), 0xBB3D);
}

TEST(MpegInfoTag, ReadsTheTagLameWrote) {
  struct Case {
    const char* fixture;
    bool constant_bitrate;
  };
  for (const Case& c : {Case{"gapless_cbr128.mp3", true}, Case{"gapless_vbr.mp3", false}}) {
    SCOPED_TRACE(c.fixture);
    const Bytes file = read_file(fixture(c.fixture));
    const auto tag = mpeg_info_tag_parse(file);
    ASSERT_TRUE(tag);
    EXPECT_EQ(tag->constant_bitrate, c.constant_bitrate);
    // 8 s at 44.1 kHz, 352800 samples, behind lame's 576 in 308 frames of 1152.
    EXPECT_EQ(tag->frames, 308u);
    EXPECT_EQ(tag->delay, 576);
    EXPECT_EQ(tag->padding, 354816 - 352800 - 576);
    EXPECT_EQ(tag->bytes, file.size());
    EXPECT_EQ(tag->music_length, file.size());
    EXPECT_TRUE(tag->lame);
    EXPECT_EQ(tag->encoder.substr(0, 4), "LAME");
    EXPECT_TRUE(tag->tag_crc_matches);
    const std::size_t frame_bytes = 417;  // the tag's frame: 128 kbps at 44.1 kHz
    EXPECT_EQ(tag->music_crc, mpeg_lame_crc(std::span(file).subspan(frame_bytes)));
  }
  const Bytes plain = read_file(fixture("gapless_plain.mp3"));
  EXPECT_FALSE(mpeg_info_tag_parse(plain));
}

struct LayoutCase {
  const char* what;
  std::array<std::uint8_t, 4> header;
  std::size_t frame_bytes;
  std::size_t tag_at;  // "Info" or "Xing"
  std::size_t crc_at;  // the extension's CRC: 154 bytes after the tag
};

TEST(MpegInfoTag, WrittenFrameReadsBackWithItsCrcWhereTheLayoutPutsIt) {
  const std::vector<LayoutCase> cases = {
      {"MPEG-1 joint stereo 128 kbps", {0xFF, 0xFB, 0x90, 0x64}, 417, 36, 190},
      {"MPEG-1 mono 64 kbps, CRC bit cleared", {0xFF, 0xFA, 0x50, 0xC4}, 208, 21, 175},
      {"MPEG-2 stereo 64 kbps 22.05 kHz", {0xFF, 0xF3, 0x80, 0x44}, 208, 21, 175},
      {"MPEG-2.5 mono 32 kbps 8 kHz", {0xFF, 0xE3, 0x48, 0xC4}, 288, 13, 167},
  };
  MpegInfoTag tag;
  tag.constant_bitrate = false;
  tag.frames = 77;
  tag.bytes = 31337;
  for (std::size_t i = 0; i < tag.toc.size(); ++i) tag.toc[i] = static_cast<std::uint8_t>(2 * i + 1);
  tag.quality = 57;
  tag.encoder = "LAME3.100";
  tag.revision_and_method = 0x24;
  tag.lowpass = 170;
  tag.encoding_flags = 0x14;
  tag.bitrate = 128;
  tag.delay = 1728;    // 0x6C0
  tag.padding = 1140;  // 0x474
  tag.misc = 0x4E;
  tag.preset = 0x0080;
  tag.music_length = 31337;
  tag.music_crc = 0xBEEF;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::uint8_t> frame = mpeg_info_frame(c.header, tag);
    ASSERT_EQ(frame.size(), c.frame_bytes);
    EXPECT_EQ(frame[1] & 1, 1);  // unprotected
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(frame.data() + c.tag_at), 4), "Xing");
    const std::size_t lame = c.tag_at + 120;
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(frame.data() + lame), 9), "LAME3.100");
    EXPECT_EQ(frame[lame + 21], 0x6C);
    EXPECT_EQ(frame[lame + 22], 0x04);
    EXPECT_EQ(frame[lame + 23], 0x74);
    EXPECT_EQ(frame[c.crc_at] << 8 | frame[c.crc_at + 1], mpeg_lame_crc(std::span(frame).first(c.crc_at)));

    const auto back = mpeg_info_tag_parse(frame);
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->constant_bitrate);
    EXPECT_EQ(back->frames, 77u);
    EXPECT_EQ(back->bytes, 31337u);
    EXPECT_EQ(back->toc, tag.toc);
    EXPECT_EQ(back->quality, 57u);
    EXPECT_EQ(back->encoder, "LAME3.100");
    EXPECT_EQ(back->revision_and_method, 0x24);
    EXPECT_EQ(back->lowpass, 170);
    EXPECT_EQ(back->encoding_flags, 0x14);
    EXPECT_EQ(back->bitrate, 128);
    EXPECT_EQ(back->delay, 1728);
    EXPECT_EQ(back->padding, 1140);
    EXPECT_EQ(back->misc, 0x4E);
    EXPECT_EQ(back->preset, 0x0080);
    EXPECT_EQ(back->music_length, 31337u);
    EXPECT_EQ(back->music_crc, 0xBEEF);
    EXPECT_TRUE(back->tag_crc_matches);

    std::vector<std::uint8_t> damaged = frame;
    damaged[lame + 22] ^= 0x01;
    EXPECT_FALSE(mpeg_info_tag_parse(damaged)->tag_crc_matches);
  }
}

TEST(MpegInfoTag, NoFrameWhereTheTagCannotGo) {
  const std::vector<std::pair<const char*, std::array<std::uint8_t, 4>>> cases = {
      {"layer II", {0xFF, 0xFD, 0xA4, 0x04}},
      {"32 kbps at 44.1 kHz: 104 bytes", {0xFF, 0xFB, 0x10, 0x64}},
      {"free format", {0xFF, 0xFB, 0x00, 0x64}},
  };
  for (const auto& [what, header] : cases) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(mpeg_info_frame(header, MpegInfoTag{}).empty());
  }
}

}  // namespace
