#include "detect/threshold.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace {

constexpr std::uint64_t BLOCKS_PER_SECOND = 75;
// Music begins where the level comes within this much of the median: the lead-in and
// run-out (digital zeros before the needle drops, the groove after the last track) are not
// the medium's noise between tracks.
constexpr double LEAD_IN_BELOW_MUSIC_DB = 20.0;
// The floor is the lowest level that this many half-decibel steps wide holds at least a
// second, or 0.3 % of the recording: what a gap between tracks leaves, while a fade passes
// through each level too fast to count.
constexpr int FLOOR_BAND_STEPS = 6;
constexpr std::uint64_t FLOOR_SHARE_DIVISOR = 300;
// A floor closer than this to the music is no noise floor but the quietest music.
constexpr double MIN_SPREAD_DB = 12.0;

using Histogram = std::array<std::uint64_t, 256>;

Histogram histogram_of(std::span<const LevelCode> levels) {
  Histogram counts{};
  for (const LevelCode level : levels) ++counts[level];
  return counts;
}

LevelCode median_of(const Histogram& counts, std::uint64_t total) {
  std::uint64_t seen = 0;
  for (std::size_t code = 0; code < counts.size(); ++code) {
    seen += counts[code];
    if (2 * seen > total) return static_cast<LevelCode>(code);
  }
  return 0;
}

LevelCode floor_of(const Histogram& counts, std::uint64_t total) {
  const std::uint64_t needed = std::max(BLOCKS_PER_SECOND, total / FLOOR_SHARE_DIVISOR);
  for (std::size_t code = 0; code < counts.size(); ++code) {
    std::uint64_t band = 0;
    for (std::size_t k = code; k < std::min(counts.size(), code + FLOOR_BAND_STEPS + 1); ++k) band += counts[k];
    if (band >= needed) {
      // The band's most common level, not its lower edge.
      std::size_t peak = code;
      for (std::size_t k = code; k < std::min(counts.size(), code + FLOOR_BAND_STEPS + 1); ++k) {
        if (counts[k] > counts[peak]) peak = k;
      }
      return static_cast<LevelCode>(peak);
    }
  }
  return 0;
}

// The blocks from the first to the last that come near the music.
std::span<const LevelCode> without_lead_in(std::span<const LevelCode> levels, LevelCode music) {
  const double near = level_db(music) - LEAD_IN_BELOW_MUSIC_DB;
  const auto loud = [&](LevelCode level) { return level_db(level) >= near; };
  const auto first = std::find_if(levels.begin(), levels.end(), loud);
  if (first == levels.end()) return levels;
  const auto last = std::find_if(levels.rbegin(), levels.rend(), loud).base();
  return {first, last};
}

}  // namespace

LevelStatistics level_statistics(std::span<const LevelCode> smoothed) {
  if (smoothed.empty()) return {level_db(0), level_db(0)};
  const LevelCode overall = median_of(histogram_of(smoothed), smoothed.size());
  const std::span<const LevelCode> music = without_lead_in(smoothed, overall);
  const Histogram counts = histogram_of(music);
  return {level_db(floor_of(counts, music.size())), level_db(median_of(counts, music.size()))};
}

Thresholds choose_thresholds(const LevelStatistics& stats, std::optional<double> fixed_db) {
  const double spread = stats.music_db - stats.floor_db;
  Thresholds t;
  if (fixed_db) {
    t.automatic = false;
    t.gap_db = *fixed_db;
    t.end_db = t.gap_db + 3.0;
    t.onset_db = std::min(t.gap_db, std::max(stats.floor_db + 2.5, t.gap_db - 6.0));
    return t;
  }
  // A third of the way up from the floor, but never so close to it that the noise's own
  // flutter crosses, nor so far that the tail of a fade counts as gap.
  t.gap_db = stats.floor_db + std::clamp(0.3 * spread, 4.0, 18.0);
  t.end_db = t.gap_db + 3.0;
  t.onset_db = stats.floor_db + std::clamp(0.12 * spread, 2.5, 8.0);
  t.usable = spread >= MIN_SPREAD_DB;
  return t;
}
