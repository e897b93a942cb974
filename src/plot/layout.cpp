#include "plot/layout.h"

namespace {

// Two rows, so that the labels of breaks close together can stand one above the other.
constexpr std::size_t LABEL_ROWS = 2;
constexpr double LABEL_STRIP_PADDING = 4;

}  // namespace

PlotLayout plot_layout(std::uint32_t height, std::size_t waveforms, bool labels) {
  PlotLayout layout;
  if (labels) {
    layout.label_rows = LABEL_ROWS;
    layout.labels = {0, LABEL_ROWS * PLOT_LABEL_ROW_HEIGHT + LABEL_STRIP_PADDING};
  }
  layout.axis = {height - PLOT_AXIS_HEIGHT, PLOT_AXIS_HEIGHT};
  const double space = layout.axis.top - layout.labels.bottom();
  const double band = (space - PLOT_BAND_GAP * static_cast<double>(waveforms - 1)) / static_cast<double>(waveforms);
  for (std::size_t i = 0; i < waveforms; ++i) {
    layout.bands.push_back({layout.labels.bottom() + static_cast<double>(i) * (band + PLOT_BAND_GAP), band});
  }
  return layout;
}
