// The sample comparison behind split --verify: samples, not bytes, are held within tolerance.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "formats/track_check.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct DifferenceCase {
  const char* label;
  std::uint32_t channels;
  std::uint32_t bits;
  Bytes a;
  Bytes b;
  unsigned tolerance;
  std::optional<std::uint64_t> expected;  // sample frame
};

TEST(PcmFirstDifference, HoldsSamplesWithinTolerance) {
  const std::vector<DifferenceCase> cases = {
      {"same", 2, 16, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}, 0, std::nullopt},
      {"one step in frame 1, right channel", 2, 16, {0, 0, 0, 0, 0, 0, 9, 0}, {0, 0, 0, 0, 0, 0, 8, 0}, 0, 1},
      {"one step allowed", 2, 16, {0, 0, 0, 0, 0, 0, 9, 0}, {0, 0, 0, 0, 0, 0, 8, 0}, 1, std::nullopt},
      // 255 and 256 differ in both bytes, yet by one step.
      {"one step across a byte", 1, 16, {0xFF, 0x00}, {0x00, 0x01}, 1, std::nullopt},
      {"minus one and zero", 1, 16, {0xFF, 0xFF}, {0x00, 0x00}, 1, std::nullopt},
      // Two steps apart whichever byte tells it.
      {"two steps across a byte", 1, 16, {0x00, 0x00, 0xFE, 0x00}, {0x00, 0x00, 0x00, 0x01}, 1, 1},
      // The extremes are a whole range apart, not one step around the wrap.
      {"extremes", 1, 16, {0x00, 0x80}, {0xFF, 0x7F}, 1, 0},
      {"24-bit sign", 1, 24, {0xFF, 0xFF, 0x7F}, {0x00, 0x00, 0x80}, 1, 0},
      {"24-bit one step", 1, 24, {0xFF, 0xFF, 0xFF}, {0x00, 0x00, 0x00}, 1, std::nullopt},
      {"8-bit unsigned", 1, 8, {0x80, 0x80, 0x7F}, {0x80, 0x80, 0x81}, 1, 2},
      {"32-bit extremes", 1, 32, {0, 0, 0, 0x80}, {0xFF, 0xFF, 0xFF, 0x7F}, 1, 0},
      {"shorter by a frame", 2, 16, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4}, 0, 1},
      {"empty against one frame", 2, 16, {}, {1, 2, 3, 4}, 0, 0},
      {"both empty", 2, 16, {}, {}, 0, std::nullopt},
  };
  for (const DifferenceCase& c : cases) {
    SCOPED_TRACE(c.label);
    const SampleInfo si = format_sample_info(44100, c.channels, c.bits, 0);
    EXPECT_EQ(pcm_first_difference(c.a, c.b, si, c.tolerance), c.expected);
    EXPECT_EQ(pcm_first_difference(c.b, c.a, si, c.tolerance), c.expected);
  }
}

}  // namespace
