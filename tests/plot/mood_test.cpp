// The mood bar: a tone lands in its band, and the colours show the balance of the bands
// against each band's usual level.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "plot/mood_colour.h"

namespace {

// Mono 16-bit PCM of a sine at hz, half scale, rate 44100.
std::vector<std::uint8_t> sine(double hz, std::uint64_t frames) {
  std::vector<std::uint8_t> pcm;
  for (std::uint64_t i = 0; i < frames; ++i) {
    const auto sample = static_cast<std::int16_t>(16384 * std::sin(2 * std::numbers::pi * hz * i / 44100.0));
    pcm.push_back(static_cast<std::uint8_t>(sample & 0xFF));
    pcm.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
  }
  return pcm;
}

TEST(MoodAnalyser, ATonesEnergyLandsInItsBand) {
  struct Case {
    double hz;
    int band;  // 0 low, 1 middle, 2 high
  };
  for (const Case c : {Case{60, 0}, Case{700, 1}, Case{9000, 2}}) {
    SCOPED_TRACE(c.hz);
    // A second over two columns, and an hour's worth of frames over two columns, which are
    // measured in windows: the tone lands in its band either way.
    for (const std::uint64_t frames : {44100ull, 44100ull * 3600}) {
      MoodAnalyser mood({0, frames, 2}, 44100, {1, 2});
      const std::vector<std::uint8_t> pcm = sine(c.hz, 44100);
      for (std::uint64_t at = 0; at < frames; at += 44100) mood.feed(at, pcm);
      for (const BandEnergies& e : mood.finish()) {
        ASSERT_GT(e.frames, 0u);
        const double bands[] = {e.low, e.middle, e.high};
        const double total = bands[0] + bands[1] + bands[2];
        // The splits are gentle (12 dB an octave): twice the other two bands together.
        EXPECT_GT(bands[c.band] / total, 2.0 / 3.0) << bands[0] << " " << bands[1] << " " << bands[2];
      }
    }
  }
}

TEST(MoodAnalyser, WideColumnsAreMeasuredInWindowsOnly) {
  // Ten minutes over two columns: four windows of 20 ms per column, not five minutes.
  const std::uint64_t frames = 44100ull * 600;
  MoodAnalyser mood({0, frames, 2}, 44100, {1, 2});
  const std::vector<std::uint8_t> pcm = sine(440, 44100);
  for (std::uint64_t at = 0; at < frames; at += 44100) mood.feed(at, pcm);
  for (const BandEnergies& e : mood.finish()) EXPECT_EQ(e.frames, 4u * 882);
}

BandEnergies energies(double low, double middle, double high) { return {low, middle, high, 1}; }

TEST(MoodColours, TheBalanceOfTheBandsAgainstTheirUsualLevels) {
  // Band levels are square roots of these: each band's usual level (the 95th percentile of
  // five columns is the fourth) is 2 for low, 1 for the others.
  const std::vector<BandEnergies> columns = {energies(4, 1, 1), energies(4, 0, 0), energies(1, 1, 0.25),
                                             energies(0, 0, 0), energies(16, 1, 1), {}};
  const std::vector<Rgb> colours = mood_colours(columns);
  const Rgb expected[] = {{1, 1, 1}, {1, 0, 0}, {0.5, 1, 0.5}, MOOD_NEUTRAL, {1, 1, 1}, MOOD_NEUTRAL};
  ASSERT_EQ(colours.size(), 6u);
  for (std::size_t i = 0; i < colours.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_DOUBLE_EQ(colours[i].red, expected[i].red);
    EXPECT_DOUBLE_EQ(colours[i].green, expected[i].green);
    EXPECT_DOUBLE_EQ(colours[i].blue, expected[i].blue);
  }
}

TEST(MoodColours, NarrowColumnsTakeTheirNeighboursIn) {
  const std::vector<BandEnergies> columns = {energies(1, 0, 0), energies(0, 0, 1), energies(1, 0, 0),
                                             energies(0, 0, 1)};
  // Alone, each column is its own band; with three neighbours each way, every column holds all four.
  const Rgb red{1, 0, 0}, blue{0, 0, 1}, both{1, 0, 1};
  const std::pair<std::size_t, std::vector<Rgb>> cases[] = {{0, {red, blue, red, blue}}, {3, {both, both, both, both}}};
  for (const auto& [neighbours, expected] : cases) {
    SCOPED_TRACE(neighbours);
    const std::vector<Rgb> colours = mood_colours(columns, neighbours);
    ASSERT_EQ(colours.size(), expected.size());
    for (std::size_t i = 0; i < colours.size(); ++i) {
      EXPECT_DOUBLE_EQ(colours[i].red, expected[i].red);
      EXPECT_DOUBLE_EQ(colours[i].green, expected[i].green);
      EXPECT_DOUBLE_EQ(colours[i].blue, expected[i].blue);
    }
  }
  // 10 ms at 44.1 kHz are 441 frames: columns of 10 frames need 22 on either side.
  EXPECT_EQ(mood_neighbours(10, 44100), 22u);
  EXPECT_EQ(mood_neighbours(220.5, 44100), 1u);
  EXPECT_EQ(mood_neighbours(441, 44100), 0u);
  EXPECT_EQ(mood_neighbours(99225, 44100), 0u);
}

}  // namespace
