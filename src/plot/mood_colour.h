// The colours of a mood bar: each band's level per column against the band's own usual level
// in the recording, the three then scaled so that the strongest is full: the colour tells the
// balance of the bands, red low, green middle, blue high.
#pragma once

#include <span>
#include <vector>

#include "plot/mood.h"

struct Rgb {
  double red = 0;
  double green = 0;
  double blue = 0;
};

// The grey of a column that no frame was measured in, or whose bands are all silent.
inline constexpr Rgb MOOD_NEUTRAL{0.7, 0.7, 0.7};

// One colour per column. A band's usual level is its 95th percentile over the measured
// columns, so that one loud moment does not darken every other column's share of it.
std::vector<Rgb> mood_colours(std::span<const BandEnergies> columns);
