// The part of a recording a picture shows, spread over its columns: column c covers the sample
// frames [first + ceil(c * F / width), first + ceil((c + 1) * F / width)) of the F frames shown.
#pragma once

#include <cstdint>

struct PlotView {
  std::uint64_t first = 0;  // first sample frame shown
  std::uint64_t end = 0;    // the frame after the last one shown; above first
  std::uint32_t width = 1;  // columns, not 0

  std::uint64_t frames() const { return end - first; }
  // The first frame of column c (c == width gives end). A column narrower than a frame may
  // have none: its first frame is then the next column's.
  std::uint64_t column_first(std::uint64_t column) const;
  // The column that holds frame, which must lie in [first, end).
  std::uint32_t column_of(std::uint64_t frame) const;
  // Where frame lies along the picture, in pixels from its left edge (may lie outside it).
  double x_of(std::uint64_t frame) const;
};
