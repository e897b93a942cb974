// The level envelope: known signals give known levels in every sample format, rumble is
// filtered out, the loudest channel counts, and the cut of the stream into pieces does not
// matter.
#include "detect/envelope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "detect/smoothing.h"

namespace {

constexpr std::uint32_t RATE = 8000;

// seconds of a sine of the given RMS level (dBFS) and frequency, as interleaved
// little-endian PCM of bytes per sample; channels past the first get right_db.
std::vector<std::uint8_t> sine_pcm(double seconds, double db, double hz, int bytes, int channels = 1,
                                   double right_db = -200) {
  std::vector<std::uint8_t> pcm;
  const auto frames = static_cast<std::size_t>(seconds * RATE);
  const double full = std::ldexp(1.0, 8 * bytes - 1) - 1;
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      const double level = c == 0 ? db : right_db;
      const double amplitude = std::sqrt(2.0) * std::pow(10.0, level / 20.0);
      auto value = static_cast<std::int64_t>(std::lround(full * amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / RATE)));
      if (bytes == 1) value += 128;
      for (int k = 0; k < bytes; ++k) pcm.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * k)));
    }
  }
  return pcm;
}

Envelope envelope_of(const std::vector<std::uint8_t>& pcm, int bytes, int channels, std::size_t piece = 0) {
  EnvelopeBuilder builder(RATE, static_cast<std::uint32_t>(channels), static_cast<std::uint32_t>(bytes));
  const std::size_t step = piece == 0 ? pcm.size() : piece * static_cast<std::size_t>(bytes * channels);
  for (std::size_t at = 0; at < pcm.size(); at += step) {
    builder.feed(std::span(pcm).subspan(at, std::min(step, pcm.size() - at)));
  }
  return builder.finish();
}

// The level after the filter has settled: the median of the second half.
double settled_db(const Envelope& envelope) {
  std::vector<LevelCode> tail(envelope.levels.begin() + static_cast<std::ptrdiff_t>(envelope.levels.size() / 2),
                              envelope.levels.end());
  std::nth_element(tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(tail.size() / 2), tail.end());
  return level_db(tail[tail.size() / 2]);
}

TEST(Envelope, LevelCodesCoverHalfDecibelsFromMinus128) {
  EXPECT_EQ(level_code(-128.0), 0);
  EXPECT_EQ(level_code(-300.0), 0);
  EXPECT_EQ(level_code(-20.0), 216);
  EXPECT_EQ(level_code(-20.2), 216);
  EXPECT_EQ(level_code(0.0), 255);
  EXPECT_DOUBLE_EQ(level_db(216), -20.0);
  EXPECT_DOUBLE_EQ(level_db(0), -128.0);
}

TEST(Envelope, MeasuresTheRmsLevelOfEverySampleFormat) {
  struct Case {
    const char* name;
    double db;
    double hz;
    int bytes;
    int channels;
    double right_db;
    double expected_db;
  };
  const Case cases[] = {
      {"16-bit tone", -20, 1000, 2, 1, -200, -20},
      {"8-bit unsigned tone", -12, 1000, 1, 1, -200, -12},
      {"24-bit quiet tone", -70, 500, 3, 1, -200, -70},
      {"32-bit tone", -30, 700, 4, 1, -200, -30},
      {"the louder right channel counts", -50, 1000, 2, 2, -15, -15},
      {"25 Hz rumble is filtered 25 dB down or more", -20, 25, 2, 1, -200, -45},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Envelope envelope = envelope_of(sine_pcm(2.0, c.db, c.hz, c.bytes, c.channels, c.right_db), c.bytes, c.channels);
    ASSERT_EQ(envelope.levels.size(), 150u);  // 2 s of whole blocks of 1/75 s
    EXPECT_EQ(envelope.frames, 16000u);
    if (c.hz < 40) {
      EXPECT_LT(settled_db(envelope), c.expected_db);
    } else {
      EXPECT_NEAR(settled_db(envelope), c.expected_db, 0.6);
    }
  }
}

TEST(Envelope, DigitalSilenceIsTheLowestCode) {
  const std::vector<std::uint8_t> silence(RATE / 2 * 2, 0);
  const Envelope envelope = envelope_of(silence, 2, 1);
  ASSERT_EQ(envelope.levels.size(), 38u);  // 37 whole blocks and a partial one
  for (const LevelCode level : envelope.levels) EXPECT_EQ(level, 0);
}

TEST(Envelope, PiecesOfAnySizeGiveTheSameLevels) {
  const std::vector<std::uint8_t> pcm = sine_pcm(1.5, -25, 440, 2, 2, -31);
  const Envelope whole = envelope_of(pcm, 2, 2);
  for (const std::size_t piece : {1u, 7u, 106u, 5000u}) {
    SCOPED_TRACE(piece);
    const Envelope pieces = envelope_of(pcm, 2, 2, piece);
    ASSERT_EQ(pieces.levels.size(), whole.levels.size());
    for (std::size_t b = 0; b < whole.levels.size(); ++b) {
      EXPECT_NEAR(pieces.levels[b], whole.levels[b], 1) << "block " << b;
    }
  }
}

TEST(RunningMedian, ClicksVanishAndEdgesStay) {
  // Silence with a click of two blocks, then a step up to music at block 20.
  std::vector<LevelCode> levels(40, 10);
  levels[6] = levels[7] = 200;
  for (std::size_t b = 20; b < 40; ++b) levels[b] = 180;
  const std::vector<LevelCode> smoothed = envelope_running_median(levels, 5);
  for (std::size_t b = 0; b < 20; ++b) EXPECT_EQ(smoothed[b], 10) << b;
  for (std::size_t b = 20; b < 40; ++b) EXPECT_EQ(smoothed[b], 180) << b;
}

}  // namespace
