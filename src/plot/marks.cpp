#include "plot/marks.h"

#include <algorithm>
#include <optional>

#include "breaks/naming.h"
#include "breaks/time_code.h"
#include "formats/format.h"

namespace {

struct ListMarking {
  PlotPicture& picture;
  const PlotView& view;
  std::uint32_t rate;
};

bool in_view(const PlotView& view, std::uint64_t frame) { return frame >= view.first && frame < view.end; }

// The part of the blocks [from, to) that the view shows, in pixels; empty when none.
std::optional<PlotSpan> span_in_view(const PlotView& view, std::uint32_t rate, std::uint64_t from, std::uint64_t to) {
  const std::uint64_t first = std::max(format_block_sample(from, rate), view.first);
  const std::uint64_t end = std::min(to == NO_END ? view.end : format_block_sample(to, rate), view.end);
  if (first >= end) return std::nullopt;
  return PlotSpan{view.x_of(first), view.x_of(end)};
}

void mark_track(std::int32_t index, std::int32_t write, std::uint64_t start, std::uint64_t end,
                const std::string& name, void* user_data) {
  auto& marking = *static_cast<ListMarking*>(user_data);
  const std::uint64_t frame = format_block_sample(start, marking.rate);
  if (in_view(marking.view, frame)) marking.picture.breaks.push_back({marking.view.x_of(frame), std::to_string(index + 1) + " " + name});
  if (write != 0) return;
  if (const std::optional<PlotSpan> span = span_in_view(marking.view, marking.rate, start, end)) {
    marking.picture.skipped_tracks.push_back(*span);
  }
}

}  // namespace

void plot_mark_list(PlotPicture& picture, const PlotView& view, std::uint32_t rate, const TrackBreakList& list) {
  ListMarking marking{picture, view, rate};
  track_break_list_foreach(list, mark_track, &marking);
}

void plot_mark_detection(PlotPicture& picture, const PlotView& view, std::uint32_t rate, const Detection& detection) {
  for (const DetectedBreak& brk : detection.breaks) {
    const std::uint64_t frame = format_block_sample(brk.block, rate);
    if (in_view(view, frame)) picture.detected_breaks.push_back({view.x_of(frame), format_time_code(brk.block, false)});
    if (const std::optional<PlotSpan> gap = span_in_view(view, rate, brk.gap_start, brk.gap_start + brk.gap_length)) {
      picture.detected_gaps.push_back(*gap);
    }
  }
}

void plot_mark_ticks(PlotPicture& picture, const PlotView& view, std::uint32_t rate, double min_pixels) {
  picture.ticks = plot_ticks(view, rate, min_pixels);
  for (const Tick& tick : picture.ticks) picture.tick_x.push_back(view.x_of(format_block_sample(tick.block, rate)));
}
