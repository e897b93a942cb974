#include "detect/envelope.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "formats/format.h"

namespace {

// Rumble of a turntable lies below 40 Hz and can be as loud as the hiss of a gap: a
// second-order high-pass this far above it takes 25 Hz down by about 27 dB, while music keeps
// nearly all its energy above the cut.
constexpr double HIGH_PASS_HZ = 120.0;
constexpr double LOWEST_DB = -128.0;

template <int Bytes>
float decode_sample(const std::uint8_t* p) {
  if constexpr (Bytes == 1) {
    return static_cast<float>(static_cast<int>(p[0]) - 128);
  } else if constexpr (Bytes == 2) {
    return static_cast<float>(static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8)));
  } else if constexpr (Bytes == 3) {
    const std::int32_t raw = p[0] | p[1] << 8 | p[2] << 16;
    return static_cast<float>((raw ^ 0x800000) - 0x800000);
  } else {
    const auto raw = static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) |
                     static_cast<std::uint32_t>(p[3]) << 24;
    return static_cast<float>(static_cast<std::int32_t>(raw));
  }
}

}  // namespace

LevelCode level_code(double db) {
  const double code = std::round((db - LOWEST_DB) * 2.0);
  return static_cast<LevelCode>(std::clamp(code, 0.0, 255.0));
}

double level_db(LevelCode code) { return LOWEST_DB + code / 2.0; }

EnvelopeBuilder::EnvelopeBuilder(std::uint32_t rate, std::uint32_t channels,
                                 std::uint32_t bytes_per_sample)
    : rate_(rate), bytes_(bytes_per_sample), channels_(channels) {
  scale_ = static_cast<float>(1.0 / std::ldexp(1.0, static_cast<int>(8 * bytes_per_sample) - 1));
  // The cookbook high-pass with Q = 1/sqrt(2) (Butterworth); below 240 Hz of rate there is
  // nothing to filter.
  const double w = 2.0 * std::numbers::pi * std::min(HIGH_PASS_HZ, rate / 2.0 * 0.9) / rate;
  const double alpha = std::sin(w) / (2.0 * std::numbers::sqrt2 / 2.0);
  const double a0 = 1.0 + alpha;
  b0_ = static_cast<float>((1.0 + std::cos(w)) / 2.0 / a0);
  b1_ = -2.0F * b0_;
  b2_ = b0_;
  a1_ = static_cast<float>(-2.0 * std::cos(w) / a0);
  a2_ = static_cast<float>((1.0 - alpha) / a0);
  block_end_ = format_block_sample(1, rate_);
  envelope_.rate = rate;
}

void EnvelopeBuilder::feed(std::span<const std::uint8_t> pcm) {
  const std::uint64_t frame_bytes = std::uint64_t{bytes_} * channels_.size();
  if (frame_bytes == 0) return;
  const std::uint64_t count = pcm.size() / frame_bytes;
  switch (bytes_) {
    case 1: feed_frames<1>(pcm.data(), count); break;
    case 2: feed_frames<2>(pcm.data(), count); break;
    case 3: feed_frames<3>(pcm.data(), count); break;
    case 4: feed_frames<4>(pcm.data(), count); break;
    default: break;
  }
}

template <int Bytes>
void EnvelopeBuilder::feed_frames(const std::uint8_t* data, std::uint64_t count) {
  const std::size_t channel_count = channels_.size();
  const std::size_t frame_bytes = Bytes * channel_count;
  while (count > 0) {
    const std::uint64_t run = std::min(count, block_end_ - frame_);
    std::size_t c = 0;
    for (; c + 2 <= channel_count; c += 2) filter_run<Bytes, 2>(data, run, c);
    if (c < channel_count) filter_run<Bytes, 1>(data, run, c);
    data += run * frame_bytes;
    frame_ += run;
    count -= run;
    if (frame_ == block_end_) close_block();
  }
}

// The filter runs in direct form I with its terms ordered so that each output waits on one
// multiply-add of the previous one: the recursion, not the arithmetic, bounds the speed, and
// two channels run side by side to hide its latency.
template <int Bytes, int Lanes>
void EnvelopeBuilder::filter_run(const std::uint8_t* data, std::uint64_t count, std::size_t first) {
  const std::size_t frame_bytes = Bytes * channels_.size();
  Channel lanes[Lanes];
  for (int k = 0; k < Lanes; ++k) lanes[k] = channels_[first + static_cast<std::size_t>(k)];
  const std::uint8_t* p = data + first * Bytes;
  for (std::uint64_t i = 0; i < count; ++i, p += frame_bytes) {
    for (int k = 0; k < Lanes; ++k) {
      Channel& s = lanes[k];
      const float x = decode_sample<Bytes>(p + k * Bytes) * scale_;
      const float feed = b0_ * x + b1_ * s.x1 + b2_ * s.x2 - a2_ * s.y2;
      const float y = feed - a1_ * s.y1;
      s.x2 = s.x1;
      s.x1 = x;
      s.y2 = s.y1;
      s.y1 = y;
      s.energy += y * y;
    }
  }
  for (int k = 0; k < Lanes; ++k) channels_[first + static_cast<std::size_t>(k)] = lanes[k];
}

void EnvelopeBuilder::close_block() {
  const std::uint64_t block_start = format_block_sample(block_, rate_);
  const std::uint64_t frames = frame_ - block_start;
  if (frames > 0) {
    float loudest = 0;
    for (Channel& channel : channels_) {
      loudest = std::max(loudest, channel.energy);
      channel.energy = 0;
    }
    const double mean_square = static_cast<double>(loudest) / static_cast<double>(frames);
    envelope_.levels.push_back(mean_square > 0 ? level_code(10.0 * std::log10(mean_square)) : 0);
  }
  ++block_;
  block_end_ = format_block_sample(block_ + 1, rate_);
}

Envelope EnvelopeBuilder::finish() {
  if (frame_ > format_block_sample(block_, rate_)) close_block();
  envelope_.frames = frame_;
  return std::move(envelope_);
}
