#include "plot/mood_colour.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double USUAL_LEVEL_QUANTILE = 0.95;
constexpr double MIN_COLOUR_SECONDS = 0.01;

using Levels = std::array<double, 3>;

// The RMS of each band over the column's frames.
Levels band_levels(const BandEnergies& e) {
  const double frames = static_cast<double>(e.frames);
  // A running sum may leave a hair below zero where it took out what it put in.
  const auto level = [frames](double energy) { return std::sqrt(std::max(0.0, energy) / frames); };
  return {level(e.low), level(e.middle), level(e.high)};
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

void add(BandEnergies& sum, const BandEnergies& e, double sign) {
  sum.low += sign * e.low;
  sum.middle += sign * e.middle;
  sum.high += sign * e.high;
  sum.frames = static_cast<std::uint64_t>(static_cast<std::int64_t>(sum.frames) + (sign > 0 ? 1 : -1) * static_cast<std::int64_t>(e.frames));
}

// Each column's energies summed with its neighbours', by a running sum over the window.
std::vector<BandEnergies> pool(std::span<const BandEnergies> columns, std::size_t neighbours) {
  if (neighbours == 0) return {columns.begin(), columns.end()};
  std::vector<BandEnergies> pooled(columns.size());
  BandEnergies window;
  const std::size_t count = columns.size();
  for (std::size_t i = 0; i < std::min(count, neighbours); ++i) add(window, columns[i], 1);
  for (std::size_t c = 0; c < count; ++c) {
    if (c + neighbours < count) add(window, columns[c + neighbours], 1);
    if (c > neighbours) add(window, columns[c - neighbours - 1], -1);
    pooled[c] = window;
  }
  return pooled;
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

std::vector<Rgb> mood_colours(std::span<const BandEnergies> columns, std::size_t neighbours) {
  const std::vector<BandEnergies> pooled = pool(columns, neighbours);
  const Levels usual = usual_levels(pooled);
  std::vector<Rgb> colours;
  colours.reserve(pooled.size());
  for (const BandEnergies& e : pooled) colours.push_back(column_colour(e, usual));
  return colours;
}

std::size_t mood_neighbours(double frames_per_column, std::uint32_t rate) {
  const double wanted = MIN_COLOUR_SECONDS * rate / frames_per_column;
  return wanted <= 1 ? 0 : static_cast<std::size_t>(std::ceil((wanted - 1) / 2));
}
