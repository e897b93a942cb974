// Draws a PlotPicture with cairo, as PNG or SVG, into an open file.
#pragma once

#include <cstdio>

#include "formats/format.h"
#include "plot/picture.h"

enum class PlotImageFormat { png, svg };

// The colours a reader of the picture (or a test) looks for: the waveform without a mood bar,
// the list's break lines and labels, the lines of the breaks detect finds.
inline constexpr Rgb PLOT_BACKGROUND{0.11, 0.11, 0.13};
inline constexpr Rgb PLOT_WAVEFORM{0.35, 0.65, 0.95};
inline constexpr Rgb PLOT_BREAK{1.0, 0.8, 0.2};
inline constexpr Rgb PLOT_DETECTED_BREAK{0.95, 0.35, 0.85};

// Writes the picture to out (not closed); false with the reason in *error when cairo could
// not draw or write it.
bool plot_write_image(const PlotPicture& picture, PlotImageFormat format, std::FILE* out, ErrorText* error);

// Has cairo let go of the fonts it keeps for the whole process, so that a leak checker finds
// none at exit. Only when no cairo object is left: after the last picture.
void plot_release_fonts();
