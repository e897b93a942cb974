#include "detect/ranking.h"

#include <algorithm>

namespace {

constexpr std::uint64_t SIDE_BLOCKS = 3 * 75;
// Less than this below the music beside it is a quiet passage, not silence.
constexpr double MIN_DEPTH_DB = 10.0;
// Depth and length beyond which a gap is as sure as a gap gets.
constexpr double FULL_DEPTH_DB = 30.0;
constexpr double FULL_LENGTH_BLOCKS = 3 * 75;

double loud_part_db(std::span<const LevelCode> levels) {
  if (levels.empty()) return level_db(0);
  std::vector<LevelCode> copy(levels.begin(), levels.end());
  const auto at = copy.begin() + static_cast<std::ptrdiff_t>(copy.size() * 9 / 10);
  std::nth_element(copy.begin(), at, copy.end());
  return level_db(*at);
}

double share(double value, double full) { return std::clamp(value / full, 0.0, 1.0); }

}  // namespace

double surrounding_music_db(std::span<const LevelCode> smoothed, std::uint64_t start, std::uint64_t end) {
  const std::uint64_t before = start - std::min(start, SIDE_BLOCKS);
  const std::uint64_t after = std::min<std::uint64_t>(smoothed.size(), end + SIDE_BLOCKS);
  const double left = loud_part_db(smoothed.subspan(before, start - before));
  const double right = loud_part_db(smoothed.subspan(end, after - end));
  return std::min(left, right);
}

std::vector<RankedGap> rank_gaps(std::span<const LevelCode> smoothed, std::span<const Gap> gaps) {
  std::vector<RankedGap> ranked;
  for (const Gap& gap : gaps) {
    const double depth = surrounding_music_db(smoothed, gap.start, gap.end) - gap.level_db;
    if (depth < MIN_DEPTH_DB) continue;
    const double length = static_cast<double>(gap.end - gap.start);
    const double confidence = 0.5 * share(depth - MIN_DEPTH_DB, FULL_DEPTH_DB - MIN_DEPTH_DB) +
                              0.5 * share(length, FULL_LENGTH_BLOCKS);
    ranked.push_back({gap, depth, confidence});
  }
  return ranked;
}
