#include "plot/mood.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double LOW_SPLIT_HZ = 200;
constexpr double HIGH_SPLIT_HZ = 2000;
// Windows a column is measured in when it is wider than WHOLE_COLUMN_WINDOWS windows, and
// their length: 20 ms holds a few periods of the lowest band.
constexpr std::uint64_t WINDOWS_PER_COLUMN = 4;
constexpr std::uint64_t WHOLE_COLUMN_WINDOWS = 16;
constexpr double WINDOW_SECONDS = 0.02;
// The low split's two one-poles settle to about 1 % within 5 ms.
constexpr double WARM_UP_SECONDS = 0.005;

float one_pole_alpha(double hz, std::uint32_t rate) {
  return static_cast<float>(1.0 - std::exp(-2.0 * std::numbers::pi * hz / rate));
}

std::uint64_t frames_of(double seconds, std::uint32_t rate) {
  return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(seconds * rate));
}

// The sample's top byte, sign and all, then the bytes under it; 32-bit samples keep the 24
// bits a float holds.
template <int Bytes>
std::int32_t decode(const std::uint8_t* p) {
  if constexpr (Bytes == 1) {
    return static_cast<std::int32_t>(p[0]) - 128;
  } else if constexpr (Bytes == 2) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
  } else if constexpr (Bytes == 3) {
    return static_cast<std::int8_t>(p[2]) * 65536 + (p[1] << 8 | p[0]);
  } else {
    return static_cast<std::int8_t>(p[3]) * 65536 + (p[2] << 8 | p[1]);
  }
}

template <int Bytes>
void mix_frames(const std::uint8_t* data, std::uint64_t count, std::uint32_t channels, float scale, float* out) {
  for (std::uint64_t i = 0; i < count; ++i) {
    std::int64_t sum = 0;
    for (std::uint32_t c = 0; c < channels; ++c, data += Bytes) sum += decode<Bytes>(data);
    out[i] = static_cast<float>(sum) * scale;
  }
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

void MoodAnalyser::mix(const std::uint8_t* data, std::uint64_t count) {
  mixed_.resize(count);
  switch (layout_.bytes_per_sample) {
    case 1: return mix_frames<1>(data, count, layout_.channels, scale_, mixed_.data());
    case 2: return mix_frames<2>(data, count, layout_.channels, scale_, mixed_.data());
    case 3: return mix_frames<3>(data, count, layout_.channels, scale_, mixed_.data());
    default: return mix_frames<4>(data, count, layout_.channels, scale_, mixed_.data());
  }
}

// Runs the filters over samples, adding the bands' energies to *into unless it is null.
void MoodAnalyser::filter(std::span<const float> samples, BandEnergies* into) {
  Filters f = filters_;
  double low = 0, middle = 0, high = 0;
  for (const float x : samples) {
    f.low1 += low_alpha_ * (x - f.low1);
    f.low2 += low_alpha_ * (f.low1 - f.low2);
    f.high1 += high_alpha_ * (x - f.high1);
    f.high2 += high_alpha_ * (f.high1 - f.high2);
    const float middle_band = f.high2 - f.low2;
    const float high_band = x - f.high2;
    low += f.low2 * f.low2;
    middle += middle_band * middle_band;
    high += high_band * high_band;
  }
  filters_ = f;
  if (into == nullptr) return;
  into->low += low;
  into->middle += middle;
  into->high += high;
  into->frames += samples.size();
}

void MoodAnalyser::measure(std::uint64_t frame, const std::uint8_t* data, std::uint64_t count) {
  mix(data, count);
  const std::span<const float> samples(mixed_);
  std::uint64_t done = 0;
  if (frame < run_.counted) {
    done = std::min(count, run_.counted - frame);
    filter(samples.first(done), nullptr);
  }
  while (done < count) {
    const std::uint32_t column = view_.column_of(frame + done);
    const std::uint64_t until = std::min(count, view_.column_first(column + std::uint64_t{1}) - frame);
    filter(samples.subspan(done, until - done), &columns_[column]);
    done = until;
  }
}

void MoodAnalyser::start_run(float first_sample) {
  // Started at the signal's value, the low-passes add no step of their own to the high band.
  filters_ = {first_sample, first_sample, first_sample, first_sample};
  in_run_ = true;
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
    if (!in_run_) {
      mix(data, 1);
      start_run(mixed_.front());
    }
    const std::uint64_t until = std::min(last, run_.end);
    measure(frame, data, until - frame);
    frame = until;
  }
}
