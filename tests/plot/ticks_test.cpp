// The time axis: steps a reader counts in, far enough apart, labelled in the lists' time codes.
#include <gtest/gtest.h>

#include "plot/ticks.h"

namespace {

struct TickCase {
  const char* name;
  PlotView view;
  std::uint32_t rate;
  std::uint64_t step;
  std::vector<std::string> labels;
};

TEST(PlotTicks, StepsAndLabels) {
  const std::vector<TickCase> cases = {
      // An hour over 1600 pixels: 90 pixels are 202.5 s, so ticks every 5 minutes.
      {"hour", {0, 3600ull * 44100, 1600}, 44100, 22500,
       {"0:00", "5:00", "10:00", "15:00", "20:00", "25:00", "30:00", "35:00", "40:00", "45:00", "50:00", "55:00"}},
      // Ten seconds over 1000 pixels: 90 pixels are 0.9 s, so every second.
      {"ten seconds", {0, 80000, 1000}, 8000, 75,
       {"0:00", "0:01", "0:02", "0:03", "0:04", "0:05", "0:06", "0:07", "0:08", "0:09"}},
      // Two seconds from 1:00.50 over 1600 pixels: 90 pixels are 0.11 s, so every 15 frames
      // (not 25, which would read as quarters), with frames; the first tick at 1:00.60.
      {"close-up", {(4500 + 50) * 588, (4500 + 200) * 588, 1600}, 44100, 15,
       {"1:00.60", "1:01.00", "1:01.15", "1:01.30", "1:01.45", "1:01.60", "1:02.00", "1:02.15", "1:02.30",
        "1:02.45"}},
      // Twelve hours on 200 pixels: beyond the table's last step of two hours, doubled.
      {"twelve hours", {0, 12ull * 3600 * 8000, 200}, 8000, 2160000, {"0:00", "480:00"}},
  };
  for (const TickCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(plot_tick_step(c.view, c.rate, 90), c.step);
    std::vector<std::string> labels;
    for (const Tick& tick : plot_ticks(c.view, c.rate, 90)) labels.push_back(tick.label);
    EXPECT_EQ(labels, c.labels);
  }
}

// Block b starts at floor(b * rate / 75): at 8 kHz the tick of block 1 lies at frame 106.
TEST(PlotTicks, TicksStartAtTheFirstBlockInsideTheView) {
  const std::vector<Tick> ticks = plot_ticks({107, 8000, 1600}, 8000, 10);
  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks.front().block, 2u);
  EXPECT_EQ(ticks.front().label, "0:00.02");
}

}  // namespace
