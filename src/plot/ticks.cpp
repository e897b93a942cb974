#include "plot/ticks.h"

#include "breaks/time_code.h"
#include "formats/format.h"

namespace {

// Steps a reader counts in: frames, fifths and whole seconds, then the usual divisions of
// minutes and hours; beyond these, doubled. No 25 frames: labelled .25 and .50, a third of a
// second would pass for a quarter.
constexpr std::uint64_t STEPS[] = {1,    5,    15,    75,    150,   375,    750,    1125,  2250,
                                   4500, 9000, 22500, 45000, 67500, 135000, 270000, 540000};
constexpr std::uint64_t BLOCKS_PER_SECOND = 75;

std::string label_of(std::uint64_t block, std::uint64_t step) {
  std::string text = format_time_code(block, false);
  // Whole seconds need no frames: "4:30", not "4:30.00".
  if (step % BLOCKS_PER_SECOND == 0) text.resize(text.size() - 3);
  return text;
}

}  // namespace

std::uint64_t plot_tick_step(const PlotView& view, std::uint32_t rate, double min_pixels) {
  const double pixels_per_block = static_cast<double>(view.width) * rate / BLOCKS_PER_SECOND / view.frames();
  std::uint64_t step = 0;
  for (const std::uint64_t candidate : STEPS) {
    step = candidate;
    if (step * pixels_per_block >= min_pixels) return step;
  }
  while (step * pixels_per_block < min_pixels) step *= 2;
  return step;
}

std::vector<Tick> plot_ticks(const PlotView& view, std::uint32_t rate, double min_pixels) {
  const std::uint64_t step = plot_tick_step(view, rate, min_pixels);
  std::uint64_t block = format_sample_block(view.first, rate) / step * step;
  if (format_block_sample(block, rate) < view.first) block += step;
  std::vector<Tick> ticks;
  for (; format_block_sample(block, rate) < view.end; block += step) ticks.push_back({block, label_of(block, step)});
  return ticks;
}
