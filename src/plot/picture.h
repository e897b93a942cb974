// Everything a picture shows, in pixels along its width, ready to be drawn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/document_record.h"
#include "plot/mood_colour.h"
#include "plot/ticks.h"

// A break: where its track begins, and its label (the list's track number and output name,
// or the time of a break detect finds).
struct PlotBreak {
  double x = 0;
  std::string label;
};

// A stretch of the picture, such as a track that is not written or a gap detect found.
struct PlotSpan {
  double from = 0;
  double to = 0;
};

struct PlotPicture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::vector<GraphPoint>> waveforms;  // one or one per channel, width columns each
  std::int64_t full_scale = 1;                     // the sample magnitude of a full band
  std::vector<Rgb> colours;                        // one per column; empty: one colour
  std::vector<double> tick_x;
  std::vector<Tick> ticks;                         // with tick_x, one x each
  std::vector<PlotBreak> breaks;                   // of the list
  std::vector<PlotSpan> skipped_tracks;            // tracks of the list not written
  std::vector<PlotBreak> detected_breaks;          // what detect finds
  std::vector<PlotSpan> detected_gaps;
};
