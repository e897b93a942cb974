#include "formats/flac/flac_frame.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "formats/flac/flac_decoder.h"
#include "support/harness.h"

namespace {

using namespace tfold_test;

std::span<const std::uint8_t> text_bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::uint16_t stored_crc16(std::span<const std::uint8_t> frame) {
  return static_cast<std::uint16_t>(frame[frame.size() - 2] << 8 | frame[frame.size() - 1]);
}

std::uint16_t computed_crc16(std::span<const std::uint8_t> frame) {
  return flac_crc16(frame.first(frame.size() - 2));
}

// The source's frames as the decoder finds them: where each ends, from the start of the file.
struct DecodedFrames {
  Bytes file;
  std::vector<std::uint64_t> starts;
  std::vector<std::uint64_t> ends;
  std::vector<FlacFrame> landed;  // first, count, whole_count, byte_end of each frame
};

DecodedFrames decode_frames(const std::string& name) {
  DecodedFrames frames;
  frames.file = read_file(fixture(name));
  const int fd = open(fixture(name).c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  {
    FlacDecoder decoder(fd, 0, frames.file.size());
    std::string reason;
    EXPECT_TRUE(decoder.start(false, reason)) << reason;
    std::uint64_t start = decoder.frames_start();
    const FlacFrameHandler take = [&](const FlacFrame& frame) {
      frames.starts.push_back(start);
      frames.ends.push_back(frame.byte_end);
      frames.landed.push_back({frame.first, frame.count, nullptr, frame.whole_count, frame.byte_end});
      start = frame.byte_end;
      return true;
    };
    while (decoder.decode_frame(take) > 0) {}
  }
  close(fd);
  return frames;
}

TEST(FlacFrame, ChecksumsGiveTheirStandardCheckValues) {
  // CRC-8 with polynomial 0x07 and CRC-16 with 0x8005, both from 0 and unreflected, of "123456789".
  EXPECT_EQ(flac_crc8(text_bytes("123456789")), 0xF4);
  EXPECT_EQ(flac_crc16(text_bytes("123456789")), 0xFEE8);
}

TEST(FlacFrame, ZeroBytesAdvanceTheCrc16AsReadingThemWould) {
  const std::uint16_t start = flac_crc16(text_bytes("frame header"));
  for (const std::size_t count : {0u, 1u, 2u, 255u, 4096u, 100001u}) {
    SCOPED_TRACE(count);
    const std::vector<std::uint8_t> zeros(count, 0);
    EXPECT_EQ(flac_crc16_zeros(start, count), flac_crc16(zeros, start));
  }
}

TEST(FlacFrame, CodedNumbersTakeTheLayoutOfUtf8StretchedToSevenBytes) {
  const struct {
    std::uint64_t value;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {0, {0x00}},
      {0x7F, {0x7F}},
      {0x80, {0xC2, 0x80}},
      {0x7FF, {0xDF, 0xBF}},
      {0x800, {0xE0, 0xA0, 0x80}},
      {0xFFFF, {0xEF, 0xBF, 0xBF}},
      {0x10000, {0xF0, 0x90, 0x80, 0x80}},
      {0x7FFFFFFF, {0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}},
      {0x80000000, {0xFE, 0x82, 0x80, 0x80, 0x80, 0x80, 0x80}},
      {FLAC_MAX_CODED_NUMBER, {0xFE, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    std::array<std::uint8_t, 7> out{};
    const std::size_t size = flac_code_number(c.value, out);
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + static_cast<long>(size)), c.bytes);
  }
  std::array<std::uint8_t, 7> out{};
  EXPECT_EQ(flac_code_number(FLAC_MAX_CODED_NUMBER + 1, out), 0u);
}

// The first frame, one in the middle and the short last one, each moved to sample numbers of
// every coded length: the header says so, the subframes stay, and the updated CRC-16 is the
// one a full computation over the new frame gives.
TEST(FlacFrame, RewriteMakesAVariableBlockingFrameWithItsSubframesAndTrueChecksums) {
  const DecodedFrames frames = decode_frames("flac_stereo44.flac");
  ASSERT_GT(frames.starts.size(), 100u);
  for (const std::size_t index : {std::size_t{0}, std::size_t{53}, frames.starts.size() - 1}) {
    const std::span<const std::uint8_t> frame =
        std::span<const std::uint8_t>(frames.file).subspan(frames.starts[index], frames.ends[index] - frames.starts[index]);
    const std::optional<FlacFrameHeader> old_header = flac_parse_frame_header(frame);
    ASSERT_TRUE(old_header) << index;
    EXPECT_FALSE(old_header->variable);
    EXPECT_EQ(old_header->number, index);
    ASSERT_EQ(computed_crc16(frame), stored_crc16(frame));
    for (const std::uint64_t first : {std::uint64_t{0}, std::uint64_t{127}, std::uint64_t{128}, std::uint64_t{440999},
                                      std::uint64_t{0x80000000}, FLAC_MAX_CODED_NUMBER}) {
      SCOPED_TRACE(std::to_string(index) + " at " + std::to_string(first));
      std::vector<std::uint8_t> out;
      ASSERT_TRUE(flac_rewrite_frame(frame, first, out));
      const std::optional<FlacFrameHeader> header = flac_parse_frame_header(out);
      ASSERT_TRUE(header);
      EXPECT_TRUE(header->variable);
      EXPECT_EQ(header->number, first);
      EXPECT_EQ(out[1], 0xF9);
      EXPECT_EQ(out[2], frame[2]);
      EXPECT_EQ(out[3], frame[3]);
      EXPECT_TRUE(std::equal(out.begin() + static_cast<long>(header->size), out.end() - 2,
                             frame.begin() + static_cast<long>(old_header->size), frame.end() - 2));
      EXPECT_EQ(computed_crc16(out), stored_crc16(out));
    }
  }
}

TEST(FlacFrame, RewriteKeepsAWrongCrc16Wrong) {
  const DecodedFrames frames = decode_frames("flac_mono48.flac");
  ASSERT_GT(frames.starts.size(), 10u);
  std::vector<std::uint8_t> frame(frames.file.begin() + static_cast<long>(frames.starts[10]),
                                  frames.file.begin() + static_cast<long>(frames.ends[10]));
  frame[frame.size() / 2] ^= 0x10;
  const std::uint16_t damage = computed_crc16(frame) ^ stored_crc16(frame);
  ASSERT_NE(damage, 0);
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(flac_rewrite_frame(frame, 20480, out));
  EXPECT_EQ(computed_crc16(out) ^ stored_crc16(out), damage);
}

TEST(FlacFrame, WhatIsNoFrameIsNeitherParsedNorRewritten) {
  const DecodedFrames frames = decode_frames("flac_mono48.flac");
  ASSERT_GT(frames.starts.size(), 2u);
  const std::vector<std::uint8_t> good(frames.file.begin() + static_cast<long>(frames.starts[1]),
                                       frames.file.begin() + static_cast<long>(frames.ends[1]));
  using Damage = void (*)(std::vector<std::uint8_t>&);
  const struct {
    const char* what;
    Damage damage;
  } cases[] = {
      {"no sync", [](std::vector<std::uint8_t>& f) { f[0] = 0xFE; }},
      {"the reserved bit after the sync", [](std::vector<std::uint8_t>& f) { f[1] |= 0x02; }},
      {"a reserved bit depth", [](std::vector<std::uint8_t>& f) { f[3] = static_cast<std::uint8_t>((f[3] & 0xF1) | 0x06); }},
      {"a header whose CRC-8 fails", [](std::vector<std::uint8_t>& f) { f[2] ^= 0x10; }},
      {"a continuation byte as the coded number's first", [](std::vector<std::uint8_t>& f) { f[4] = 0x80; }},
      {"a header cut short", [](std::vector<std::uint8_t>& f) { f.resize(5); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> frame = good;
    c.damage(frame);
    std::vector<std::uint8_t> out = {1, 2, 3};
    EXPECT_FALSE(flac_parse_frame_header(frame));
    EXPECT_FALSE(flac_rewrite_frame(frame, 0, out));
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3}));
  }
  // A whole header (6 bytes here) with one byte after it, where the CRC-16 needs two.
  const std::vector<std::uint8_t> cut(good.begin(), good.begin() + 7);
  ASSERT_EQ(flac_parse_frame_header(cut)->size, 6u);
  std::vector<std::uint8_t> out;
  EXPECT_FALSE(flac_rewrite_frame(cut, 0, out));
  EXPECT_FALSE(flac_rewrite_frame(good, FLAC_MAX_CODED_NUMBER + 1, out));
}

// A seek hands out the end of the frame it lands in: the decoder still tells the frame's own
// block size and where its bytes end, which is where a frame copy reads from next.
TEST(FlacDecoder, ASeekTellsTheLandingFramesWholeSizeAndEnd) {
  const DecodedFrames frames = decode_frames("flac_stereo44.flac");
  ASSERT_GT(frames.ends.size(), 3u);
  const int fd = open(fixture("flac_stereo44.flac").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  {
    FlacDecoder decoder(fd, 0, frames.file.size());
    std::string reason;
    ASSERT_TRUE(decoder.start(false, reason, false)) << reason;
    EXPECT_EQ(decoder.frames_start(), frames.starts[0]);
    for (const std::uint64_t sample : {std::uint64_t{5000}, std::uint64_t{8192}, std::uint64_t{4095}}) {
      SCOPED_TRACE(sample);
      ASSERT_TRUE(decoder.seek(sample)) << decoder.problem();
      FlacFrame landed;
      const FlacFrameHandler take = [&](const FlacFrame& frame) {
        landed = frame;
        return true;
      };
      ASSERT_EQ(decoder.decode_frame(take), 1);
      const std::size_t index = sample / 4096;
      EXPECT_EQ(landed.first, sample);
      EXPECT_EQ(landed.count, 4096 * (index + 1) - sample);
      EXPECT_EQ(landed.whole_count, 4096u);
      EXPECT_EQ(landed.byte_end, frames.ends[index]);
    }
  }
  close(fd);
}

}  // namespace
