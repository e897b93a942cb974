#include "formats/mpeg/mpeg_index.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Frames of 417 and 418 bytes (one of 2881, MPEG's longest) at the 14 bit rates of MPEG-1
// layer III, with non-frame bytes before some of them: at the first frame, inside the first run
// of 64, on a frame where a run of 64 begins, and twice in a row.
std::vector<MpegFrame> stream_frames() {
  std::vector<MpegFrame> frames;
  std::uint64_t offset = 10;
  for (std::size_t i = 0; i < 200; ++i) {
    if (i == 5 || i == 64 || i == 130 || i == 131) offset += 100 + i;
    constexpr std::uint16_t RATES[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    const std::uint32_t bytes = i == 77 ? 2881 : i % 3 == 0 ? 418 : 417;
    frames.push_back({offset, bytes, RATES[i * 5 % 14]});
    offset += bytes;
  }
  return frames;
}

TEST(MpegFrameList, GivesBackEveryFrameByIndexAndInOrder) {
  const std::vector<MpegFrame> frames = stream_frames();
  MpegFrameList list;
  for (const MpegFrame& frame : frames) list.push_back(frame);
  ASSERT_EQ(list.size(), frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list[i].offset, frames[i].offset);
    EXPECT_EQ(list[i].bytes, frames[i].bytes);
    EXPECT_EQ(list[i].bitrate_kbps, frames[i].bitrate_kbps);
  }
  EXPECT_EQ(list.back().offset, frames.back().offset);
  // Walks from any frame on, across every gap.
  for (std::size_t from : {0u, 4u, 5u, 63u, 64u, 129u, 199u}) {
    SCOPED_TRACE(from);
    std::size_t i = from;
    for (auto it = list.at(from); it != list.end(); ++it, ++i) {
      ASSERT_EQ((*it).offset, frames[i].offset);
      ASSERT_EQ((*it).bytes, frames[i].bytes);
      ASSERT_EQ((*it).bitrate_kbps, frames[i].bitrate_kbps);
    }
    EXPECT_EQ(i, frames.size());
  }
}

// Only damage mixes bit-rate tables; past 15 rates a frame keeps its length and loses its rate.
TEST(MpegFrameList, RatesBeyondFifteenAreUnknown) {
  MpegFrameList list;
  for (std::uint16_t k = 1; k <= 16; ++k) list.push_back({k * 1000u, 500, static_cast<std::uint16_t>(k * 8)});
  EXPECT_EQ(list[14].bitrate_kbps, 120);
  EXPECT_EQ(list[15].bitrate_kbps, 0);
  EXPECT_EQ(list[15].bytes, 500u);
  EXPECT_EQ(list[15].offset, 16000u);
}

}  // namespace
