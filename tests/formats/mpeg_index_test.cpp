#include "formats/mpeg_index.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Frames of 417 and 418 bytes with non-frame bytes before some of them: at the first frame,
// inside the first run of 64, on a frame where a run of 64 begins, and twice in a row.
std::vector<MpegFrame> stream_frames() {
  std::vector<MpegFrame> frames;
  std::uint64_t offset = 10;
  for (std::size_t i = 0; i < 200; ++i) {
    if (i == 5 || i == 64 || i == 130 || i == 131) offset += 100 + i;
    const std::uint32_t bytes = i % 3 == 0 ? 418 : 417;
    frames.push_back({offset, bytes});
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
  }
  EXPECT_EQ(list.back().offset, frames.back().offset);
  // Walks from any frame on, across every gap.
  for (std::size_t from : {0u, 4u, 5u, 63u, 64u, 129u, 199u}) {
    SCOPED_TRACE(from);
    std::size_t i = from;
    for (auto it = list.at(from); it != list.end(); ++it, ++i) {
      ASSERT_EQ((*it).offset, frames[i].offset);
      ASSERT_EQ((*it).bytes, frames[i].bytes);
    }
    EXPECT_EQ(i, frames.size());
  }
}

}  // namespace
