// How good a break each gap makes: a real gap between tracks is long and lies far below the
// music on both sides of it, while a fade-out has quiet music beside it and a pause inside a
// piece is short.
#pragma once

#include <span>
#include <vector>

#include "detect/envelope.h"
#include "detect/gaps.h"

struct RankedGap {
  Gap gap;
  double depth_db = 0;    // the quieter side's music level above the gap's level
  double confidence = 0;  // 0 to 1, from depth and length
};

// The level of the music beside the blocks [start, end): the louder part (90th percentile) of
// the few seconds before start and after end, the quieter of the two sides.
double surrounding_music_db(std::span<const LevelCode> smoothed, std::uint64_t start, std::uint64_t end);
// Ranks each gap; gaps shallower than the minimum depth are no candidates and are left out.
std::vector<RankedGap> rank_gaps(std::span<const LevelCode> smoothed, std::span<const Gap> gaps);
