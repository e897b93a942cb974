// Where the parts of a picture go: a strip for the break labels on top (when there are breaks
// to label), one band per waveform under it, the time axis at the bottom. Every part spans
// the picture's full width, so that column x of a waveform is pixel column x.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct PlotRect {
  double top = 0;
  double height = 0;
  double bottom() const { return top + height; }
};

struct PlotLayout {
  PlotRect labels;              // height 0 without labels
  std::vector<PlotRect> bands;  // one per waveform, top to bottom
  PlotRect axis;
  std::size_t label_rows = 0;
};

inline constexpr double PLOT_LABEL_ROW_HEIGHT = 15;
inline constexpr double PLOT_AXIS_HEIGHT = 24;
inline constexpr double PLOT_BAND_GAP = 6;
// The smallest picture with room for labels, axis and a waveform of a few pixels per channel.
inline constexpr std::uint32_t PLOT_MIN_SIZE = 100;

// waveforms is 1 or more; height at least PLOT_MIN_SIZE.
PlotLayout plot_layout(std::uint32_t height, std::size_t waveforms, bool labels);
