#include "plot/mood_colour.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double USUAL_LEVEL_QUANTILE = 0.95;

using Levels = std::array<double, 3>;

// The RMS of each band over the column's frames.
Levels band_levels(const BandEnergies& e) {
  const double frames = static_cast<double>(e.frames);
  return {std::sqrt(e.low / frames), std::sqrt(e.middle / frames), std::sqrt(e.high / frames)};
}

double usual_level(std::vector<double> levels) {
  if (levels.empty()) return 0;
  const auto at = levels.begin() + static_cast<std::ptrdiff_t>(USUAL_LEVEL_QUANTILE * (levels.size() - 1));
  std::nth_element(levels.begin(), at, levels.end());
  return *at;
}

Levels usual_levels(std::span<const BandEnergies> columns) {
  Levels usual{};
  for (std::size_t band = 0; band < usual.size(); ++band) {
    std::vector<double> levels;
    for (const BandEnergies& e : columns) {
      if (e.frames > 0) levels.push_back(band_levels(e)[band]);
    }
    usual[band] = usual_level(std::move(levels));
  }
  return usual;
}

Rgb column_colour(const BandEnergies& e, const Levels& usual) {
  if (e.frames == 0) return MOOD_NEUTRAL;
  Levels share = band_levels(e);
  for (std::size_t band = 0; band < share.size(); ++band) {
    share[band] = usual[band] > 0 ? std::min(1.0, share[band] / usual[band]) : 0;
  }
  const double strongest = *std::max_element(share.begin(), share.end());
  if (strongest <= 0) return MOOD_NEUTRAL;
  return {share[0] / strongest, share[1] / strongest, share[2] / strongest};
}

}  // namespace

std::vector<Rgb> mood_colours(std::span<const BandEnergies> columns) {
  const Levels usual = usual_levels(columns);
  std::vector<Rgb> colours;
  colours.reserve(columns.size());
  for (const BandEnergies& e : columns) colours.push_back(column_colour(e, usual));
  return colours;
}
