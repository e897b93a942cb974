#include "plot/mood.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double LOW_SPLIT_HZ = 200;
constexpr double HIGH_SPLIT_HZ = 2000;
// Windows a column is measured in when it is wider than WHOLE_COLUMN_WINDOWS windows, and
// their length: 25 ms holds a few periods of the lowest band.
constexpr std::uint64_t WINDOWS_PER_COLUMN = 4;
constexpr std::uint64_t WHOLE_COLUMN_WINDOWS = 16;
constexpr double WINDOW_SECONDS = 0.025;
// The filters settle (to e^-12) within 10 ms at the low split.
constexpr double WARM_UP_SECONDS = 0.01;

float one_pole_alpha(double hz, std::uint32_t rate) {
  return static_cast<float>(1.0 - std::exp(-2.0 * std::numbers::pi * hz / rate));
}

std::uint64_t frames_of(double seconds, std::uint32_t rate) {
  return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(seconds * rate));
}

}  // namespace

MoodAnalyser::MoodAnalyser(const PlotView& view, std::uint32_t rate, const PcmLayout& layout)
    : view_(view),
      layout_(layout),
      warm_up_(frames_of(WARM_UP_SECONDS, rate)),
      window_(frames_of(WINDOW_SECONDS, rate)),
      whole_columns_(view.frames() / view.width <= WHOLE_COLUMN_WINDOWS * (window_ + warm_up_)),
      low_alpha_(one_pole_alpha(LOW_SPLIT_HZ, rate)),
      high_alpha_(one_pole_alpha(std::min(HIGH_SPLIT_HZ, rate / 4.0), rate)),
      scale_(1.0f / static_cast<float>(std::uint64_t{1} << (std::min(layout.bytes_per_sample, 3u) * 8 - 1)) /
             static_cast<float>(layout.channels)),
      columns_(view.width) {}

// Narrow columns are measured in full, as one run over the whole view; wide ones in windows
// spread evenly over each, every window with a warm-up of its own before it.
MoodAnalyser::Run MoodAnalyser::next_run(std::uint64_t frame) const {
  if (whole_columns_) return {view_.first, view_.first, view_.end};
  const std::uint32_t column = view_.column_of(frame);
  const std::uint64_t begin = view_.column_first(column);
  const std::uint64_t span = view_.column_first(column + std::uint64_t{1}) - begin;
  for (std::uint64_t k = 0; k < WINDOWS_PER_COLUMN; ++k) {
    const std::uint64_t start = begin + span * k / WINDOWS_PER_COLUMN + warm_up_;
    if (start + window_ > frame) {
      return {std::max(view_.first, start - warm_up_), start, start + window_};
    }
  }
  const std::uint64_t next = view_.column_first(column + std::uint64_t{1});
  if (next >= view_.end) return {view_.end, view_.end, view_.end};
  return next_run(next);
}

float MoodAnalyser::mixed_sample(const std::uint8_t* frame) const {
  std::int64_t sum = 0;
  const std::uint32_t bytes = layout_.bytes_per_sample;
  for (std::uint32_t c = 0; c < layout_.channels; ++c, frame += bytes) {
    if (bytes == 1) {
      sum += static_cast<std::int32_t>(frame[0]) - 128;
      continue;
    }
    // The sample's top byte, sign and all, then the bytes under it.
    std::int32_t value = static_cast<std::int8_t>(frame[bytes - 1]);
    for (std::uint32_t i = bytes - 1; i-- > 0;) value = value * 256 + frame[i];
    // 32-bit samples keep the 24 bits a float holds.
    sum += bytes == 4 ? value / 256 : value;
  }
  return static_cast<float>(sum) * scale_;
}

void MoodAnalyser::start_run(float first_sample) {
  // Started at the signal's value, the low-passes add no step of their own to the high band.
  low1_ = low2_ = high1_ = high2_ = first_sample;
  in_run_ = true;
}

void MoodAnalyser::measure(std::uint64_t frame, const std::uint8_t* data, std::uint64_t count) {
  const std::uint64_t frame_bytes = layout_.frame_bytes();
  std::uint32_t column = view_.column_of(std::max(frame, run_.counted));
  std::uint64_t column_end = view_.column_first(column + std::uint64_t{1});
  for (std::uint64_t i = 0; i < count; ++i, ++frame, data += frame_bytes) {
    const float x = mixed_sample(data);
    low1_ += low_alpha_ * (x - low1_);
    low2_ += low_alpha_ * (low1_ - low2_);
    high1_ += high_alpha_ * (x - high1_);
    high2_ += high_alpha_ * (high1_ - high2_);
    if (frame < run_.counted) continue;
    while (frame >= column_end) column_end = view_.column_first(++column + std::uint64_t{1});
    BandEnergies& energies = columns_[column];
    const float middle = high2_ - low2_;
    const float high = x - high2_;
    energies.low += low2_ * low2_;
    energies.middle += middle * middle;
    energies.high += high * high;
    ++energies.frames;
  }
}

void MoodAnalyser::feed(std::uint64_t first_frame, std::span<const std::uint8_t> pcm) {
  if (layout_.bytes_per_sample < 1 || layout_.bytes_per_sample > 4) return;
  const std::uint64_t frame_bytes = layout_.frame_bytes();
  const std::uint64_t last = std::min(first_frame + pcm.size() / frame_bytes, view_.end);
  std::uint64_t frame = std::max(first_frame, view_.first);
  while (frame < last) {
    if (!in_run_ || frame >= run_.end) {
      run_ = next_run(frame);
      in_run_ = false;
      if (run_.begin >= last) return;
      frame = std::max(frame, run_.begin);
    }
    const std::uint8_t* data = pcm.data() + (frame - first_frame) * frame_bytes;
    if (!in_run_) start_run(mixed_sample(data));
    const std::uint64_t until = std::min(last, run_.end);
    measure(frame, data, until - frame);
    frame = until;
  }
}
