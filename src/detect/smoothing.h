// Running medians over an envelope: a click of a few milliseconds fills one or two blocks
// and never moves the median of a window several times as long, while the edges of a gap
// stay where they are.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "detect/envelope.h"

// The median of the width blocks centred on each block (width odd); near the ends the window
// is cut to the blocks that exist.
std::vector<LevelCode> envelope_running_median(std::span<const LevelCode> levels, std::size_t width);
