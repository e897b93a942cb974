// Gaps and their ranking: hysteresis keeps a gap whole, a quiet passage is no candidate, a
// fade beside a gap makes it weaker, and a longer, deeper gap ranks higher.
#include "detect/ranking.h"

#include <gtest/gtest.h>

#include <vector>

#include "detect/gaps.h"

namespace {

std::vector<LevelCode> levels_of(std::initializer_list<std::pair<int, double>> runs) {
  std::vector<LevelCode> levels;
  for (const auto& [blocks, db] : runs) levels.insert(levels.end(), static_cast<std::size_t>(blocks), level_code(db));
  return levels;
}

Thresholds at(double gap_db) {
  Thresholds t;
  t.gap_db = gap_db;
  t.end_db = gap_db + 3;
  t.onset_db = gap_db - 5;
  return t;
}

TEST(Gaps, HysteresisKeepsAGapWholeAndLeadInIsNoGap) {
  // Lead-in silence, music, then a gap whose middle flutters just above the gap threshold.
  const std::vector<LevelCode> levels =
      levels_of({{50, -90}, {500, -20}, {60, -60}, {10, -49}, {60, -60}, {500, -20}, {40, -90}});
  const std::vector<Gap> gaps = find_gaps(levels, at(-50), 75);
  ASSERT_EQ(gaps.size(), 1u);
  EXPECT_EQ(gaps[0].start, 550u);
  EXPECT_EQ(gaps[0].end, 680u);
  EXPECT_DOUBLE_EQ(gaps[0].level_db, -60.0);
}

TEST(Gaps, ShorterThanTheMinimumIsNoGap) {
  const std::vector<LevelCode> levels = levels_of({{500, -20}, {74, -60}, {500, -20}});
  EXPECT_TRUE(find_gaps(levels, at(-50), 75).empty());
  EXPECT_EQ(find_gaps(levels, at(-50), 74).size(), 1u);
}

TEST(Ranking, ScoresByDepthAgainstTheMusicBesideAndByLength) {
  struct Case {
    const char* name;
    std::vector<LevelCode> levels;
    bool candidate;
    double depth_db;
  };
  const std::vector<Case> cases = {
      {"real gap", levels_of({{400, -20}, {150, -60}, {400, -20}}), true, 40},
      {"after a fade to -35", levels_of({{400, -20}, {300, -35}, {150, -60}, {400, -20}}), true, 25},
      {"quiet passage", levels_of({{400, -20}, {300, -27}, {400, -20}}), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<LevelCode>& l = c.levels;
    // The stretch under test is the one before the last 400 blocks of music.
    const std::uint64_t end = l.size() - 400;
    std::uint64_t start = end;
    while (start > 0 && l[start - 1] == l[end - 1]) --start;
    const Gap gap{start, end, level_db(l[end - 1])};
    const std::vector<RankedGap> ranked = rank_gaps(l, std::span(&gap, 1));
    ASSERT_EQ(ranked.size(), c.candidate ? 1u : 0u);
    if (c.candidate) {
      EXPECT_DOUBLE_EQ(ranked[0].depth_db, c.depth_db);
    }
  }
}

TEST(Ranking, ALongerDeeperGapIsSurer) {
  const std::vector<LevelCode> l =
      levels_of({{400, -20}, {100, -45}, {400, -20}, {225, -70}, {400, -20}});
  const Gap gaps[] = {{400, 500, -45}, {900, 1125, -70}};
  const std::vector<RankedGap> ranked = rank_gaps(l, gaps);
  ASSERT_EQ(ranked.size(), 2u);
  EXPECT_LT(ranked[0].confidence, ranked[1].confidence);
  EXPECT_DOUBLE_EQ(ranked[1].confidence, 1.0);
  EXPECT_GT(ranked[0].confidence, 0.0);
}

}  // namespace
