#include "plot/view.h"

namespace {

using Wide = unsigned __int128;

}  // namespace

std::uint64_t PlotView::column_first(std::uint64_t column) const {
  // Frames times columns can pass 64 bits for recordings of many hours at high rates.
  const Wide scaled = Wide{column} * frames();
  return first + static_cast<std::uint64_t>((scaled + width - 1) / width);
}

std::uint32_t PlotView::column_of(std::uint64_t frame) const {
  return static_cast<std::uint32_t>(Wide{frame - first} * width / frames());
}

double PlotView::x_of(std::uint64_t frame) const {
  const double offset = frame >= first ? static_cast<double>(frame - first) : -static_cast<double>(first - frame);
  return offset * width / static_cast<double>(frames());
}
