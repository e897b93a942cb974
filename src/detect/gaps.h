// Gaps: the stretches of a recording quieter than the gap threshold, held open until the
// level rises past the end threshold, so that noise at the threshold does not split a gap in
// pieces or make its edges flicker.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "detect/envelope.h"
#include "detect/threshold.h"

struct Gap {
  std::uint64_t start = 0;  // first quiet block
  std::uint64_t end = 0;    // first block after it
  double level_db = 0;      // the median level inside
};

// The gaps of a smoothed envelope in ascending order, at least min_blocks long. Quiet at the
// very start or end of the recording is its lead-in or run-out, no gap between tracks.
std::vector<Gap> find_gaps(std::span<const LevelCode> smoothed, const Thresholds& thresholds,
                           std::uint64_t min_blocks);
