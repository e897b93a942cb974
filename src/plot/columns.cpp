#include "plot/columns.h"

#include <algorithm>

#include "document/analysis.h"

namespace {

// The analysis scans 8 to 24 bits; a 32-bit sample is drawn by its upper 24 bits.
GraphPoint extremes_of_32_bits(std::span<const std::uint8_t> frames, std::size_t from, std::size_t step) {
  GraphPoint point;
  for (std::size_t p = from; p + 4 <= frames.size(); p += step) {
    const std::int32_t sample = static_cast<std::int8_t>(frames[p + 3]) * 65536 + (frames[p + 2] << 8 | frames[p + 1]);
    point.min = std::min(point.min, sample);
    point.max = std::max(point.max, sample);
  }
  return point;
}

}  // namespace

ColumnReducer::ColumnReducer(const PlotView& view, const PcmLayout& layout, bool each_channel)
    : view_(view),
      layout_(layout),
      lanes_(each_channel ? layout.channels : 1, std::vector<GraphPoint>(view.width)) {}

std::int64_t ColumnReducer::full_scale() const {
  switch (layout_.bytes_per_sample) {
    case 1: return 127;
    case 2: return 32767;
    default: return 8388607;
  }
}

void ColumnReducer::add(std::uint32_t column, std::span<const std::uint8_t> frames) {
  const std::uint32_t bits = layout_.bytes_per_sample * 8;
  for (std::size_t lane = 0; lane < lanes_.size(); ++lane) {
    // All channels together are one channel of single samples to the block scan.
    const std::size_t from = lanes_.size() == 1 ? 0 : lane * layout_.bytes_per_sample;
    const std::uint32_t step = lanes_.size() == 1 ? 1 : layout_.channels;
    const GraphPoint point = bits == 32 ? extremes_of_32_bits(frames, from, std::size_t{4} * step)
                                        : analysis_block_extremes(frames.subspan(from), bits, step);
    GraphPoint& kept = lanes_[lane][column];
    kept.min = std::min(kept.min, point.min);
    kept.max = std::max(kept.max, point.max);
  }
}

void ColumnReducer::feed(std::uint64_t first_frame, std::span<const std::uint8_t> pcm) {
  const std::uint64_t frame_bytes = layout_.frame_bytes();
  const std::uint64_t end_frame = first_frame + pcm.size() / frame_bytes;
  std::uint64_t frame = std::max(first_frame, view_.first);
  const std::uint64_t last = std::min(end_frame, view_.end);
  while (frame < last) {
    const std::uint32_t column = view_.column_of(frame);
    const std::uint64_t until = std::min(last, view_.column_first(column + std::uint64_t{1}));
    add(column, pcm.subspan((frame - first_frame) * frame_bytes, (until - frame) * frame_bytes));
    frame = until;
  }
}

std::vector<std::vector<GraphPoint>> ColumnReducer::finish() {
  // A column in which no frame starts lies inside the frame that started before it.
  for (std::uint32_t column = 1; column < view_.width; ++column) {
    if (view_.column_first(column) != view_.column_first(column + std::uint64_t{1})) continue;
    for (std::vector<GraphPoint>& lane : lanes_) lane[column] = lane[column - 1];
  }
  return std::move(lanes_);
}
