// Thresholds from a recording's own levels: the floor is the noise between tracks whatever
// the medium, not the lead-in's zeros nor a fade; a recording without a floor below its music
// has no gaps.
#include "detect/threshold.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Runs of (blocks, dBFS) one after another.
std::vector<LevelCode> levels_of(std::initializer_list<std::pair<int, double>> runs) {
  std::vector<LevelCode> levels;
  for (const auto& [blocks, db] : runs) levels.insert(levels.end(), static_cast<std::size_t>(blocks), level_code(db));
  return levels;
}

// Some music around gaps of two seconds at gap_db.
std::vector<LevelCode> album(double gap_db, double music_db) {
  return levels_of({{3000, music_db}, {150, gap_db}, {3000, music_db + 3}, {150, gap_db}, {3000, music_db - 3}});
}

TEST(Thresholds, FollowTheFloorOfEachMedium) {
  struct Case {
    const char* medium;
    std::vector<LevelCode> levels;
    double floor_db;
    double gap_low, gap_high;  // where the gap threshold may lie
  };
  const std::vector<Case> cases = {
      {"digital silence", album(-128, -20), -128, -115, -100},
      {"vinyl surface", album(-55, -20), -55, -50, -42},
      {"cassette hiss", album(-40, -25), -40, -37, -34},
      {"lead-in of zeros before a vinyl side",
       [] {
         std::vector<LevelCode> l = levels_of({{2000, -128}});
         const std::vector<LevelCode> side = album(-55, -20);
         l.insert(l.end(), side.begin(), side.end());
         return l;
       }(),
       -55, -50, -42},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.medium);
    const LevelStatistics stats = level_statistics(c.levels);
    EXPECT_DOUBLE_EQ(stats.floor_db, c.floor_db);
    EXPECT_DOUBLE_EQ(stats.music_db, -20.0 + (c.floor_db == -40 ? -5 : 0));
    const Thresholds t = choose_thresholds(stats, std::nullopt);
    EXPECT_TRUE(t.usable);
    EXPECT_TRUE(t.automatic);
    EXPECT_GE(t.gap_db, c.gap_low);
    EXPECT_LE(t.gap_db, c.gap_high);
    EXPECT_GT(t.end_db, t.gap_db);                   // hysteresis
    EXPECT_LT(t.onset_db, t.gap_db);                 // onsets are found more sensitively
    EXPECT_GT(t.onset_db, stats.floor_db);
  }
}

TEST(Thresholds, AFadeIsNoFloor) {
  // A fade-out through every level down to a hiss: the floor is the hiss.
  std::vector<LevelCode> levels = levels_of({{4000, -18}});
  for (int step = 0; step < 80; ++step) levels.insert(levels.end(), 4, level_code(-18 - step * 0.5));
  const std::vector<LevelCode> rest = levels_of({{90, -60}, {4000, -18}});
  levels.insert(levels.end(), rest.begin(), rest.end());
  EXPECT_DOUBLE_EQ(level_statistics(levels).floor_db, -60.0);
}

TEST(Thresholds, MusicWithoutAFloorBelowItHasNoGaps) {
  const LevelStatistics stats = level_statistics(levels_of({{3000, -20}, {400, -28}, {3000, -17}}));
  EXPECT_FALSE(choose_thresholds(stats, std::nullopt).usable);
}

TEST(Thresholds, AGivenLevelIsTheGapThreshold) {
  const Thresholds t = choose_thresholds({-55, -20}, -45.0);
  EXPECT_FALSE(t.automatic);
  EXPECT_TRUE(t.usable);
  EXPECT_DOUBLE_EQ(t.gap_db, -45.0);
  EXPECT_DOUBLE_EQ(t.end_db, -42.0);
  EXPECT_DOUBLE_EQ(t.onset_db, -51.0);
}

}  // namespace
