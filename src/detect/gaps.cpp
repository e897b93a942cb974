#include "detect/gaps.h"

#include <algorithm>

namespace {

double median_db(std::span<const LevelCode> levels) {
  std::vector<LevelCode> copy(levels.begin(), levels.end());
  const auto middle = copy.begin() + static_cast<std::ptrdiff_t>(copy.size() / 2);
  std::nth_element(copy.begin(), middle, copy.end());
  return level_db(*middle);
}

}  // namespace

std::vector<Gap> find_gaps(std::span<const LevelCode> smoothed, const Thresholds& thresholds,
                           std::uint64_t min_blocks) {
  std::vector<Gap> gaps;
  if (!thresholds.usable) return gaps;
  const std::uint64_t count = smoothed.size();
  const auto below = [&](std::uint64_t b, double db) { return level_db(smoothed[b]) < db; };
  std::uint64_t b = 0;
  while (b < count) {
    if (!below(b, thresholds.gap_db)) {
      ++b;
      continue;
    }
    // Widen the quiet stretch on both sides as far as the level stays under the end threshold.
    std::uint64_t start = b;
    while (start > 0 && below(start - 1, thresholds.end_db)) --start;
    std::uint64_t end = b;
    while (end < count && below(end, thresholds.end_db)) ++end;
    b = end;
    if (start == 0 || end == count || end - start < min_blocks) continue;
    // A stretch reached again from the one before joins it.
    if (!gaps.empty() && start <= gaps.back().end) {
      gaps.back().end = end;
    } else {
      gaps.push_back({start, end, 0});
    }
  }
  for (Gap& gap : gaps) {
    gap.level_db = median_db(smoothed.subspan(gap.start, gap.end - gap.start));
  }
  return gaps;
}
