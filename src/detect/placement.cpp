#include "detect/placement.h"

#include <algorithm>

QuietSpan quiet_span(std::span<const LevelCode> fine, const Gap& gap, double onset_db) {
  const auto sounding = [&](std::uint64_t b) { return level_db(fine[b]) >= onset_db; };
  std::uint64_t onset = gap.end;
  while (onset > gap.start && sounding(onset - 1)) --onset;
  std::uint64_t start = gap.start;
  while (start < onset && sounding(start)) ++start;
  return {start, onset};
}

std::uint64_t place_break(const QuietSpan& quiet, Placement placement) {
  if (placement == Placement::middle) return quiet.start + (quiet.onset - quiet.start) / 2;
  const std::uint64_t early = quiet.onset - std::min(quiet.onset, PRE_ROLL_BLOCKS);
  return std::max(early, quiet.start);
}
