#include "detect/smoothing.h"

#include <algorithm>

std::vector<LevelCode> envelope_running_median(std::span<const LevelCode> levels, std::size_t width) {
  const std::size_t half = width / 2;
  std::vector<LevelCode> result(levels.size());
  std::vector<LevelCode> window;
  window.reserve(width);
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const std::size_t from = i >= half ? i - half : 0;
    const std::size_t to = std::min(levels.size(), i + half + 1);
    window.assign(levels.begin() + static_cast<std::ptrdiff_t>(from), levels.begin() + static_cast<std::ptrdiff_t>(to));
    const auto middle = window.begin() + static_cast<std::ptrdiff_t>(window.size() / 2);
    std::nth_element(window.begin(), middle, window.end());
    result[i] = *middle;
  }
  return result;
}
