// Where inside a gap the break goes. Its edges are found again with the onset threshold,
// more sensitive than the gap's own: the gap threshold says where the silence is for sure,
// the onset threshold where the sound of either track really ends and begins.
#pragma once

#include <cstdint>
#include <span>

#include "detect/envelope.h"
#include "detect/gaps.h"

enum class Placement { onset, middle };

// The quiet part of a gap: from the end of the previous track's sound to the next track's
// onset, both in blocks inside [gap.start, gap.end].
struct QuietSpan {
  std::uint64_t start = 0;  // first block after the previous track's last sound
  std::uint64_t onset = 0;  // first block of the next track's sound
};

// Blocks of pre-roll before an onset: 0.3 s, rounded down to whole blocks.
inline constexpr std::uint64_t PRE_ROLL_BLOCKS = 22;

// The quiet part of gap in a finely smoothed envelope.
QuietSpan quiet_span(std::span<const LevelCode> fine, const Gap& gap, double onset_db);
// The break's block: onset less the pre-roll but not before the previous track's sound ends,
// or the middle of the quiet part.
std::uint64_t place_break(const QuietSpan& quiet, Placement placement);
