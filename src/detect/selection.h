// Which candidates become breaks: chosen together, so that the best set wins under the rule
// that no track is shorter than the minimum, rather than the longest gaps one by one (a
// greedy choice can take one strong gap that rules out two others worth more).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

struct BreakCandidate {
  std::uint64_t block = 0;  // where the break would go; candidates in ascending order
  double score = 0;         // above 0
};

// The positions (indices into candidates, ascending) of the set with the highest total score
// whose tracks, from block 0 to length, are all at least min_track blocks long. With count,
// sets of exactly count breaks; when no such set exists, the best set of the largest size
// that does. Without count, any size.
std::vector<std::size_t> select_breaks(std::span<const BreakCandidate> candidates, std::uint64_t length,
                                       std::uint64_t min_track, std::optional<std::size_t> count);
