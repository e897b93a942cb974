// The ticks of a picture's time axis: at whole numbers of a step (1/75 s up to hours) chosen
// so that neighbouring ticks lie far enough apart for their labels, labelled as the break
// lists show times: minutes:seconds, with .frames where the step is less than a second.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plot/view.h"

struct Tick {
  std::uint64_t block = 0;  // the tick's time, in blocks of 1/75 second
  std::string label;        // "4:30", or "4:30.15" on an axis of sub-second steps
};

// The smallest step (in blocks) whose ticks lie at least min_pixels apart on view at rate Hz.
std::uint64_t plot_tick_step(const PlotView& view, std::uint32_t rate, double min_pixels);
// The ticks of view at that step, whose frames lie in the view.
std::vector<Tick> plot_ticks(const PlotView& view, std::uint32_t rate, double min_pixels);
