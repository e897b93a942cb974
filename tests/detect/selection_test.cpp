// Choosing breaks together under the minimum track length, and placing them in their gaps.
#include "detect/selection.h"

#include <gtest/gtest.h>

#include <vector>

#include "detect/placement.h"

namespace {

TEST(Selection, ChoosesTheBestSetNotTheBestGapFirst) {
  // The best single gap (50) leaves no room for another: 30 and 70 together are worth more.
  const std::vector<BreakCandidate> c = {{30, 0.9}, {50, 1.0}, {70, 0.9}};
  struct Case {
    const char* name;
    std::uint64_t min_track;
    std::optional<std::size_t> count;
    std::vector<std::size_t> chosen;
  };
  const std::vector<Case> cases = {
      {"two breaks", 30, 2, {0, 2}},
      {"any number", 30, std::nullopt, {0, 2}},
      {"more than fit: the largest set that does", 30, 5, {0, 2}},
      {"one break", 30, 1, {1}},
      {"short tracks allowed: all", 20, std::nullopt, {0, 1, 2}},
      {"no track can be that long", 60, std::nullopt, {}},
      {"the first and last tracks count too: only the middle fits", 31, std::nullopt, {1}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(select_breaks(c, 100, k.min_track, k.count), k.chosen);
  }
  EXPECT_TRUE(select_breaks({}, 100, 20, 3).empty());
}

TEST(Placement, BeforeTheOnsetNeverOutsideTheQuiet) {
  // Gap [100, 250): the previous track's tail sounds until 110, the next starts at 240.
  std::vector<LevelCode> fine(300, level_code(-20));
  for (std::size_t b = 110; b < 240; ++b) fine[b] = level_code(-70);
  const Gap gap{100, 250, -70};
  const QuietSpan quiet = quiet_span(fine, gap, -60);
  EXPECT_EQ(quiet.start, 110u);
  EXPECT_EQ(quiet.onset, 240u);
  EXPECT_EQ(place_break(quiet, Placement::onset), 240u - 22u);
  EXPECT_EQ(place_break(quiet, Placement::middle), 175u);
  // A quiet part shorter than the pre-roll: the break waits for the tail to end.
  EXPECT_EQ(place_break({230, 240}, Placement::onset), 230u);
}

}  // namespace
