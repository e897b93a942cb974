// The waveform's columns: extremes of exactly the frames each column covers, however the PCM
// is cut into pieces, per channel or of all channels together.
#include <gtest/gtest.h>

#include "plot/columns.h"

namespace {

using Pcm = std::vector<std::uint8_t>;

// Interleaved 16-bit little-endian frames.
Pcm pcm16(const std::vector<std::vector<std::int16_t>>& frames) {
  Pcm bytes;
  for (const auto& frame : frames) {
    for (const std::int16_t sample : frame) {
      bytes.push_back(static_cast<std::uint8_t>(sample & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
    }
  }
  return bytes;
}

// Feeds pcm (frames from first_frame on) in pieces of `piece` frames.
void feed_in_pieces(ColumnReducer& reducer, std::uint64_t first_frame, const Pcm& pcm, std::size_t frame_bytes,
                    std::size_t piece) {
  for (std::size_t at = 0; at < pcm.size(); at += piece * frame_bytes) {
    const std::size_t count = std::min(piece * frame_bytes, pcm.size() - at);
    reducer.feed(first_frame + at / frame_bytes, std::span(pcm.data() + at, count));
  }
}

struct Extremes {
  std::int32_t min, max;
};

void expect_columns(const std::vector<GraphPoint>& got, const std::vector<Extremes>& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t c = 0; c < got.size(); ++c) {
    SCOPED_TRACE(c);
    EXPECT_EQ(got[c].min, expected[c].min);
    EXPECT_EQ(got[c].max, expected[c].max);
  }
}

// Twelve stereo frames, frame i holding (i * 100, -i * 10) but for two spikes.
Pcm twelve_frames() {
  std::vector<std::vector<std::int16_t>> frames;
  for (std::int16_t i = 0; i < 12; ++i) frames.push_back({static_cast<std::int16_t>(i * 100), static_cast<std::int16_t>(-i * 10)});
  frames[4][1] = -30000;
  frames[7][0] = 32767;
  return pcm16(frames);
}

TEST(ColumnReducer, EachColumnHoldsTheExtremesOfItsOwnFramesInAnyPieces) {
  // Frames 2 to 11 over 4 columns: 10 frames, columns of frames [2,5) [5,7) [7,10) [10,12).
  const Pcm pcm = twelve_frames();
  for (const std::size_t piece : {1, 3, 5, 12}) {
    SCOPED_TRACE(piece);
    ColumnReducer together({2, 12, 4}, {2, 2}, false);
    feed_in_pieces(together, 0, pcm, 4, piece);
    const auto lanes = together.finish();
    ASSERT_EQ(lanes.size(), 1u);
    expect_columns(lanes[0], {{-30000, 400}, {-60, 600}, {-90, 32767}, {-110, 1100}});

    ColumnReducer each({2, 12, 4}, {2, 2}, true);
    feed_in_pieces(each, 0, pcm, 4, piece);
    const auto channels = each.finish();
    ASSERT_EQ(channels.size(), 2u);
    // The extremes always take in the zero line.
    expect_columns(channels[0], {{0, 400}, {0, 600}, {0, 32767}, {0, 1100}});
    expect_columns(channels[1], {{-30000, 0}, {-60, 0}, {-90, 0}, {-110, 0}});
  }
}

TEST(ColumnReducer, ColumnsNarrowerThanAFrameShowTheFrameTheyLieIn) {
  // Three frames over seven columns: frames 0, 1 and 2 start in columns 0, 2 and 4 (at 0,
  // 7/3 and 14/3 pixels); the columns between show the frame before them.
  const Pcm pcm = pcm16({{100}, {-200}, {300}});
  ColumnReducer reducer({0, 3, 7}, {1, 2}, false);
  reducer.feed(0, pcm);
  expect_columns(reducer.finish()[0], {{0, 100}, {0, 100}, {-200, 0}, {-200, 0}, {0, 300}, {0, 300}, {0, 300}});
}

TEST(ColumnReducer, FramesOutsideTheViewAndColumnsTheAudioDidNotReachStayOut) {
  const Pcm pcm = twelve_frames();
  ColumnReducer reducer({8, 16, 4}, {2, 2}, false);
  reducer.feed(0, pcm);  // the audio ends at frame 12: columns [12,14) and [14,16) get nothing
  // Frame 7's 32767 lies before the view.
  expect_columns(reducer.finish()[0], {{-90, 900}, {-110, 1100}, {0, 0}, {0, 0}});
}

TEST(ColumnReducer, EveryDepthFromEightTo32Bits) {
  // Two mono frames of each depth: the unsigned 8-bit 0x00 and 0xFF are -128 and 127; 32-bit
  // samples count by their upper 24 bits.
  const struct {
    std::uint32_t bytes;
    Pcm pcm;
    Extremes extremes;
  } cases[] = {{1, {0x00, 0xFF}, {-128, 127}},
               {2, {0x00, 0x80, 0xFF, 0x7F}, {-32768, 32767}},
               {3, {0x00, 0x00, 0x80, 0x34, 0x12, 0x00}, {-8388608, 4660}},
               {4, {0xFF, 0x00, 0x00, 0x80, 0x00, 0x00, 0x01, 0x00}, {-8388608, 256}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    for (const bool each : {false, true}) {
      ColumnReducer reducer({0, 2, 1}, {1, c.bytes}, each);
      reducer.feed(0, c.pcm);
      expect_columns(reducer.finish().at(0), {c.extremes});
    }
  }
}

TEST(ColumnReducer, FullScaleOfEachDepth) {
  const std::pair<std::uint32_t, std::int64_t> cases[] = {{1, 127}, {2, 32767}, {3, 8388607}, {4, 8388607}};
  for (const auto& [bytes, full] : cases) {
    EXPECT_EQ(ColumnReducer({0, 1, 1}, {1, bytes}, false).full_scale(), full);
  }
}

}  // namespace
