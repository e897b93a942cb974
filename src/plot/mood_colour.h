// The colours of a mood bar: each band's level per column against the band's own usual level
// in the recording, the three then scaled so that the strongest is full: the colour tells the
// balance of the bands, red low, green middle, blue high.
#pragma once

#include <cstddef>
#include <cstdint>
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

// One colour per column, from the energies of the column and of `neighbours` columns on either
// side: a column of a few frames alone holds too little of a low tone to tell its balance. A
// band's usual level is its 95th percentile over the measured columns, so that one loud moment
// does not darken every other column's share of it.
std::vector<Rgb> mood_colours(std::span<const BandEnergies> columns, std::size_t neighbours = 0);

// The neighbours a column needs for its colour to stand on at least 10 ms of audio.
std::size_t mood_neighbours(double frames_per_column, std::uint32_t rate);
