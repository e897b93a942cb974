#include "formats/mpeg/mpeg_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "formats/tags/id3v2_size.h"

namespace {

struct HeaderCase {
  const char* what;
  std::array<std::uint8_t, 4> bytes;
  MpegVersion version;
  int layer;
  int bitrate_kbps;
  int sample_rate;
  std::uint32_t frame_bytes;
  std::uint32_t samples;
};

TEST(MpegFrameHeader, ParsesEveryVersionAndLayer) {
  const std::vector<HeaderCase> cases = {
      {"MPEG-1 layer III 128 kbps 44.1 kHz", {0xFF, 0xFB, 0x90, 0x64}, MpegVersion::mpeg1, 3, 128, 44100, 417, 1152},
      {"the same with padding", {0xFF, 0xFB, 0x92, 0x64}, MpegVersion::mpeg1, 3, 128, 44100, 418, 1152},
      {"MPEG-1 layer III 320 kbps 48 kHz", {0xFF, 0xFB, 0xE4, 0x00}, MpegVersion::mpeg1, 3, 320, 48000, 960, 1152},
      {"MPEG-1 layer II 192 kbps 48 kHz", {0xFF, 0xFD, 0xA4, 0x04}, MpegVersion::mpeg1, 2, 192, 48000, 576, 1152},
      {"MPEG-1 layer II 384 kbps 32 kHz", {0xFF, 0xFD, 0xE8, 0x00}, MpegVersion::mpeg1, 2, 384, 32000, 1728, 1152},
      {"MPEG-1 layer I 384 kbps 48 kHz", {0xFF, 0xFF, 0xC4, 0x00}, MpegVersion::mpeg1, 1, 384, 48000, 384, 384},
      {"layer I padding adds a 4-byte slot", {0xFF, 0xFF, 0xC6, 0x00}, MpegVersion::mpeg1, 1, 384, 48000, 388, 384},
      {"MPEG-2 layer III 48 kbps 22.05 kHz", {0xFF, 0xF3, 0x60, 0xC4}, MpegVersion::mpeg2, 3, 48, 22050, 156, 576},
      {"MPEG-2 layer II 160 kbps 24 kHz", {0xFF, 0xF5, 0xE4, 0x00}, MpegVersion::mpeg2, 2, 160, 24000, 960, 1152},
      {"MPEG-2 layer I 256 kbps 16 kHz", {0xFF, 0xF7, 0xE8, 0x00}, MpegVersion::mpeg2, 1, 256, 16000, 768, 384},
      {"MPEG-2.5 layer III 16 kbps 8 kHz", {0xFF, 0xE3, 0x28, 0xC4}, MpegVersion::mpeg25, 3, 16, 8000, 144, 576},
      {"MPEG-2.5 layer III 8 kbps 11.025 kHz", {0xFF, 0xE3, 0x10, 0xC4}, MpegVersion::mpeg25, 3, 8, 11025, 52, 576},
      {"free format", {0xFF, 0xFB, 0x00, 0x44}, MpegVersion::mpeg1, 3, 0, 44100, 0, 1152},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto header = mpeg_parse_frame_header(c.bytes);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->version, c.version);
    EXPECT_EQ(header->layer, c.layer);
    EXPECT_EQ(header->bitrate_kbps, c.bitrate_kbps);
    EXPECT_EQ(header->sample_rate, c.sample_rate);
    EXPECT_EQ(header->frame_bytes, c.frame_bytes);
    EXPECT_EQ(header->samples, c.samples);
  }
}

TEST(MpegFrameHeader, RefusesWhatCannotStartAFrame) {
  const std::vector<std::pair<const char*, std::array<std::uint8_t, 4>>> cases = {
      {"no sync", {0xFF, 0x1B, 0x90, 0x64}},
      {"reserved version", {0xFF, 0xEB, 0x90, 0x64}},
      {"reserved layer", {0xFF, 0xF9, 0x90, 0x64}},
      {"bit-rate index 15", {0xFF, 0xFB, 0xF0, 0x64}},
      {"reserved sampling rate", {0xFF, 0xFB, 0x9C, 0x64}},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    EXPECT_FALSE(mpeg_parse_frame_header(bytes));
  }
  const std::uint8_t short_bytes[] = {0xFF, 0xFB, 0x90};
  EXPECT_FALSE(mpeg_parse_frame_header(short_bytes));
}

TEST(MpegFrameHeader, FindsTheInfoTagAfterTheSideInformation) {
  struct Case {
    const char* what;
    std::array<std::uint8_t, 4> header;
    std::size_t tag_at;
    const char* tag;
    bool info;
  };
  const std::vector<Case> cases = {
      {"MPEG-1 stereo Xing", {0xFF, 0xFB, 0x90, 0x64}, 36, "Xing", true},
      {"MPEG-1 stereo Info", {0xFF, 0xFB, 0x90, 0x64}, 36, "Info", true},
      {"MPEG-1 mono", {0xFF, 0xFB, 0x90, 0xC4}, 21, "Info", true},
      {"MPEG-2 mono", {0xFF, 0xF3, 0x60, 0xC4}, 13, "Xing", true},
      {"MPEG-1 stereo with CRC", {0xFF, 0xFA, 0x90, 0x64}, 36, "Info", true},
      {"the CRC moves nothing", {0xFF, 0xFA, 0x90, 0x64}, 38, "Info", false},
      {"tag at the wrong place", {0xFF, 0xFB, 0x90, 0x64}, 21, "Info", false},
      {"layer II never", {0xFF, 0xFD, 0xA4, 0x04}, 36, "Info", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> frame(417, 0);
    std::memcpy(frame.data(), c.header.data(), 4);
    std::memcpy(frame.data() + c.tag_at, c.tag, 4);
    const auto header = mpeg_parse_frame_header(frame);
    ASSERT_TRUE(header);
    EXPECT_EQ(mpeg_is_info_frame(*header, frame), c.info);
  }
}

TEST(MpegFrameHeader, InfoFrameAnnouncesItsFrameCountWhenFlagged) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> after_tag;  // flags and what follows them
    std::size_t frame_bytes;
    std::optional<std::uint32_t> count;
  };
  const std::vector<Case> cases = {
      {"frames flag", {0, 0, 0, 0x0F, 0x00, 0x01, 0x02, 0x03}, 417, 0x010203},
      {"frames flag alone", {0, 0, 0, 0x01, 0, 0, 0, 116}, 417, 116},
      {"flags without frames", {0, 0, 0, 0x0E, 0, 0, 0, 116}, 417, std::nullopt},
      {"count cut off by the frame end", {0, 0, 0, 0x01, 0, 0, 0, 116}, 36 + 4 + 7, std::nullopt},
  };
  const std::uint8_t header[] = {0xFF, 0xFB, 0x90, 0x64};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> frame(417, 0);
    std::memcpy(frame.data(), header, 4);
    std::memcpy(frame.data() + 36, "Info", 4);
    std::copy(c.after_tag.begin(), c.after_tag.end(), frame.begin() + 40);
    frame.resize(c.frame_bytes);
    const auto parsed = mpeg_parse_frame_header(frame);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(mpeg_info_frame_count(*parsed, frame), c.count);
  }
  std::vector<std::uint8_t> audio(417, 0);
  std::memcpy(audio.data(), header, 4);
  EXPECT_EQ(mpeg_info_frame_count(*mpeg_parse_frame_header(audio), audio), std::nullopt);
}

// Frames as lame wrote them: the first bytes up to the end of the side information.
TEST(MpegFrameHeader, ReadsTheReservoirPointerAndChecksTheCrc) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::uint32_t main_data_begin;
    std::size_t main_data_start;
  };
  const std::vector<Case> cases = {
      {"MPEG-1 joint stereo with CRC",
       {0xFF, 0xFA, 0x92, 0x64, 0xD6, 0x7C, 0x0C, 0x81, 0x03, 0x96, 0x40, 0xDE, 0x77,
        0x3D, 0x00, 0x02, 0x33, 0xA0, 0x08, 0x70, 0xE0, 0x00, 0x00, 0x0F, 0x51, 0x7F,
        0x75, 0xC6, 0x18, 0x6D, 0x08, 0x9B, 0x00, 0x22, 0xE4, 0x00, 0x00, 0x00},
       25, 38},
      {"a 9-bit pointer above 255",
       {0xFF, 0xFA, 0x92, 0x64, 0xCC, 0x2E, 0x5E, 0x01, 0x13, 0x5E, 0x40, 0xDE, 0xF1,
        0xE6, 0x1B, 0xB0, 0x30, 0x60, 0x08, 0x70, 0x00, 0x00, 0x00, 0x0D, 0xB5, 0xAF,
        0x79, 0xC7, 0xA4, 0x6C, 0x48, 0xBC, 0x80, 0x22, 0x2C, 0x00, 0x00, 0x00},
       188, 38},
      {"MPEG-2 mono: an 8-bit pointer",
       {0xFF, 0xF3, 0x82, 0xC4, 0x16, 0x2D, 0x6C, 0x16, 0xC9, 0x41, 0xCC, 0x48, 0x00,
        0xFB, 0x8A, 0xEB, 0x8A, 0xF4, 0xE6, 0xC4, 0x0A},
       22, 13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto header = mpeg_parse_frame_header(c.bytes);
    ASSERT_TRUE(header);
    EXPECT_EQ(mpeg_main_data_begin(*header, c.bytes), c.main_data_begin);
    EXPECT_EQ(mpeg_main_data_start(*header), c.main_data_start);
    if (!header->protection) continue;
    EXPECT_EQ(mpeg_frame_crc(c.bytes, *header), c.bytes[4] << 8 | c.bytes[5]);
    std::vector<std::uint8_t> damaged = c.bytes;
    damaged[20] ^= 0x10;
    EXPECT_NE(mpeg_frame_crc(damaged, *header), c.bytes[4] << 8 | c.bytes[5]);
  }
}

TEST(MpegTags, Id3v2SizeIsSyncsafeAndCountsTheFooter) {
  const std::uint8_t plain[] = {'I', 'D', '3', 3, 0, 0x00, 0x00, 0x00, 0x02, 0x01};
  EXPECT_EQ(mpeg_id3v2_size(plain), 10u + 257u);
  const std::uint8_t with_footer[] = {'I', 'D', '3', 4, 0, 0x10, 0x00, 0x00, 0x00, 0x10};
  EXPECT_EQ(mpeg_id3v2_size(with_footer), 10u + 16u + 10u);
  const std::uint8_t largest[] = {'I', 'D', '3', 4, 0, 0x00, 0x7F, 0x7F, 0x7F, 0x7F};
  EXPECT_EQ(mpeg_id3v2_size(largest), 10u + 268435455u);
  const std::uint8_t not_syncsafe[] = {'I', 'D', '3', 3, 0, 0x00, 0x00, 0x00, 0x80, 0x00};
  EXPECT_EQ(mpeg_id3v2_size(not_syncsafe), 0u);
  const std::uint8_t frame[] = {0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(mpeg_id3v2_size(frame), 0u);
}

std::vector<std::uint8_t> ape_footer(std::uint32_t size, bool with_header) {
  std::vector<std::uint8_t> footer(32, 0);
  std::memcpy(footer.data(), "APETAGEX", 8);
  footer[8] = 0xD0;  // version 2000
  footer[9] = 0x07;
  footer[12] = static_cast<std::uint8_t>(size);
  footer[13] = static_cast<std::uint8_t>(size >> 8);
  if (with_header) footer[23] = 0x80;
  return footer;
}

TEST(MpegTags, TrailerCountsId3v1AndApe) {
  std::vector<std::uint8_t> audio(200, 0x55);
  std::vector<std::uint8_t> id3v1(128, 0);
  std::memcpy(id3v1.data(), "TAG", 3);

  EXPECT_EQ(mpeg_trailer_size(audio), 0u);

  auto tagged = audio;
  tagged.insert(tagged.end(), id3v1.begin(), id3v1.end());
  EXPECT_EQ(mpeg_trailer_size(std::span(tagged).last(160)), 128u);

  auto ape = audio;
  const auto footer = ape_footer(300, true);
  ape.insert(ape.end(), footer.begin(), footer.end());
  EXPECT_EQ(mpeg_trailer_size(std::span(ape).last(160)), 332u);

  auto both = ape;
  both.insert(both.end(), id3v1.begin(), id3v1.end());
  EXPECT_EQ(mpeg_trailer_size(std::span(both).last(160)), 460u);
}

}  // namespace
