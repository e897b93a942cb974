#include "formats/mpeg/mpeg_gapless.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct PlanCase {
  const char* what;
  std::uint64_t first, end, source_delay;
  std::uint32_t samples_per_frame;
  std::uint64_t frames;
  MpegGaplessPlan plan;
};

// lame's 44.1 kHz streams start 576 + 529 samples into the frames' output; 8 s are 308 frames.
TEST(MpegGaplessPlan, FramesDelayAndPaddingOfATrack) {
  const std::vector<PlanCase> cases = {
      {"first block: the stream's own first frame needs no settling", 0, 588, 1105, 1152, 308, {0, 2, 0, 1728, 1140}},
      {"one block in the middle", 44100, 44688, 1105, 1152, 308, {38, 2, 0, 2052, 816}},
      {"to the end: the source's own padding", 44688, 352800, 1105, 1152, 308, {38, 270, 0, 2640, 1440}},
      {"no Info frame, 576 samples a frame", 0, 294, 0, 576, 117, {0, 1, 0, 47, 811}},
      {"source padding below the decoder delay: one silent frame more", 0, 10844, 1105, 1152, 10,
       {0, 10, 1, 1728, 1252}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const MpegGaplessPlan plan = mpeg_gapless_plan(c.first, c.end, c.source_delay, c.samples_per_frame, c.frames);
    EXPECT_EQ(plan.first_frame, c.plan.first_frame);
    EXPECT_EQ(plan.copied, c.plan.copied);
    EXPECT_EQ(plan.silent_tail, c.plan.silent_tail);
    EXPECT_EQ(plan.delay, c.plan.delay);
    EXPECT_EQ(plan.padding, c.plan.padding);
  }
}

// Players refuse delays above 2880; the padding must hide the decoder's 529 samples at the end.
TEST(MpegGaplessPlan, DelayStaysPlayableAndPaddingCoversTheDecoderDelayEverywhere) {
  for (const std::uint32_t per_frame : {1152u, 576u}) {
    for (const std::uint64_t source_delay : {0u, 1105u}) {
      for (std::uint64_t first = 0; first < 20000; first += 37) {
        SCOPED_TRACE(std::to_string(per_frame) + " " + std::to_string(source_delay) + " " + std::to_string(first));
        const MpegGaplessPlan plan = mpeg_gapless_plan(first, first + 5000, source_delay, per_frame, 1000);
        EXPECT_LE(plan.delay, 2880u);
        EXPECT_GE(plan.padding, MPEG_DECODER_DELAY);
        EXPECT_LT(plan.padding, MPEG_DECODER_DELAY + per_frame);
        EXPECT_EQ((1 + plan.copied) * per_frame, plan.delay + 5000 + plan.padding);
        // A decoder that starts on a later frame settles 576 + 480 samples into the frame after it.
        if (plan.first_frame > 0) {
          EXPECT_GE(plan.delay + MPEG_DECODER_DELAY, per_frame + 576 + 480);
        }
        EXPECT_LT(plan.delay, 2 * per_frame + 527) << "a frame more than needed";
      }
    }
  }
}

}  // namespace
