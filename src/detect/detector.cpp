#include "detect/detector.h"

#include <cmath>

#include "detect/gaps.h"
#include "detect/ranking.h"
#include "detect/selection.h"
#include "detect/smoothing.h"
#include "formats/format.h"

namespace {

// 0.2 s: several clicks a second still leave most of each window to the noise.
constexpr std::size_t GAP_MEDIAN_BLOCKS = 15;
// 67 ms: removes a click of one or two blocks and keeps an onset within a block or two.
constexpr std::size_t ONSET_MEDIAN_BLOCKS = 5;

struct Placed {
  RankedGap ranked;
  std::uint64_t block = 0;
};

std::vector<Placed> place_all(const std::vector<RankedGap>& ranked, std::span<const LevelCode> fine,
                              const DetectSettings& settings, double onset_db) {
  std::vector<Placed> placed;
  for (const RankedGap& r : ranked) {
    placed.push_back({r, place_break(quiet_span(fine, r.gap, onset_db), settings.placement)});
  }
  return placed;
}

}  // namespace

std::uint64_t seconds_to_blocks(double seconds) {
  return static_cast<std::uint64_t>(std::llround(std::max(0.0, seconds) * 75.0));
}

Detection detect_breaks(const Envelope& envelope, const DetectSettings& settings) {
  Detection result;
  result.length = format_block_count(envelope.frames, envelope.rate);
  const std::vector<LevelCode> coarse = envelope_running_median(envelope.levels, GAP_MEDIAN_BLOCKS);
  const std::vector<LevelCode> fine = envelope_running_median(envelope.levels, ONSET_MEDIAN_BLOCKS);
  result.levels = level_statistics(coarse);
  result.thresholds = choose_thresholds(result.levels, settings.threshold_db);

  const std::vector<Gap> gaps =
      find_gaps(coarse, result.thresholds, std::max<std::uint64_t>(1, seconds_to_blocks(settings.min_gap_seconds)));
  const std::vector<Placed> placed =
      place_all(rank_gaps(coarse, gaps), fine, settings, result.thresholds.onset_db);
  result.candidates = placed.size();

  std::vector<BreakCandidate> candidates;
  for (const Placed& p : placed) candidates.push_back({p.block, p.ranked.confidence + 1e-6});
  const std::vector<std::size_t> chosen =
      select_breaks(candidates, result.length, seconds_to_blocks(settings.min_track_seconds), settings.breaks);
  for (const std::size_t i : chosen) {
    const RankedGap& r = placed[i].ranked;
    result.breaks.push_back({placed[i].block, r.gap.start, r.gap.end - r.gap.start, r.depth_db, r.confidence});
  }
  return result;
}
