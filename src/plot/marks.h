// What a picture marks on the waveform: the breaks of a list, with the tracks a split would
// not write, and the breaks detect finds with their gaps; all placed by the one rule that
// turns blocks into sample frames, and left out where they fall outside the view.
#pragma once

#include <cstdint>

#include "breaks/track_break_list.h"
#include "detect/detector.h"
#include "plot/picture.h"
#include "plot/view.h"

// Adds the list's breaks (numbered from 1, named as split names their tracks) and its
// tracks that are not written.
void plot_mark_list(PlotPicture& picture, const PlotView& view, std::uint32_t rate, const TrackBreakList& list);
// Adds the breaks of detection, labelled with their times, and the gaps they lie in.
void plot_mark_detection(PlotPicture& picture, const PlotView& view, std::uint32_t rate, const Detection& detection);
// Adds the time axis's ticks, at least min_pixels apart.
void plot_mark_ticks(PlotPicture& picture, const PlotView& view, std::uint32_t rate, double min_pixels);
