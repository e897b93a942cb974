#include "detect/envelope.h"

#include <algorithm>
#include <cstring>
#include <cmath>
#include <numbers>

#include "formats/format.h"

namespace {

// Rumble of a turntable lies below 40 Hz and can be as loud as the hiss of a gap: a
// second-order high-pass this far above it takes 25 Hz down by about 27 dB, while music keeps
// nearly all its energy above the cut.
constexpr double HIGH_PASS_HZ = 120.0;
constexpr double LOWEST_DB = -128.0;
// The filter's recursion makes each output wait for the one before, which would leave the
// processor idle most of the time. Instead each piece of the stream is cut into LANES parts
// that are filtered side by side, in vector registers: each part starts from rest after
// filtering the WARM_UP_SECONDS before it, by which time the filter has forgotten its start
// (its impulse response has fallen by more than 100 dB).
constexpr std::size_t LANES = 8;
constexpr double WARM_UP_SECONDS = 0.025;

template <int Bytes>
[[gnu::always_inline]] inline float decode_sample(const std::uint8_t* p) {
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

// One channel's samples of an interleaved piece, to full scale 1.0. Inlined into a version
// for each instruction set, as the filter is below.
template <int Bytes>
[[gnu::always_inline]] inline void decode_channel(const std::uint8_t* p, std::size_t frame_bytes, std::size_t samples,
                                                  float scale, float* to) {
  for (std::size_t i = 0; i < samples; ++i, p += frame_bytes) to[i] = decode_sample<Bytes>(p) * scale;
}

template <int Bytes>
void decode_channel_baseline(const std::uint8_t* p, std::size_t frame_bytes, std::size_t samples, float scale,
                             float* to) {
  decode_channel<Bytes>(p, frame_bytes, samples, scale, to);
}

template <int Bytes>
[[gnu::target("avx2")]] void decode_channel_avx2(const std::uint8_t* p, std::size_t frame_bytes, std::size_t samples,
                                                 float scale, float* to) {
  decode_channel<Bytes>(p, frame_bytes, samples, scale, to);
}

bool processor_has_avx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace

LevelCode level_code(double db) {
  const double code = std::round((db - LOWEST_DB) * 2.0);
  return static_cast<LevelCode>(std::clamp(code, 0.0, 255.0));
}

double level_db(LevelCode code) { return LOWEST_DB + code / 2.0; }

EnvelopeBuilder::EnvelopeBuilder(std::uint32_t rate, std::uint32_t channels,
                                 std::uint32_t bytes_per_sample)
    : rate_(rate), bytes_(bytes_per_sample), channel_count_(channels),
      warm_up_(static_cast<std::size_t>(rate * WARM_UP_SECONDS) + 1),
      channels_(channels, Channel{std::vector<float>(warm_up_, 0.0F), {}}),
      block_energy_(channels, 0.0) {
  scale_ = static_cast<float>(1.0 / std::ldexp(1.0, static_cast<int>(8 * bytes_per_sample) - 1));
  // The cookbook high-pass with Q = 1/sqrt(2) (Butterworth).
  const double w = 2.0 * std::numbers::pi * std::min(HIGH_PASS_HZ, rate / 2.0 * 0.9) / rate;
  const double alpha = std::sin(w) / std::numbers::sqrt2;
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
  const std::uint64_t frame_bytes = std::uint64_t{bytes_} * channel_count_;
  if (frame_bytes == 0) return;
  const std::uint64_t count = pcm.size() / frame_bytes;
  if (count == 0) return;
  for (std::size_t c = 0; c < channel_count_; ++c) measure_channel(pcm.data(), count, c);
  add_energies(count);
}

void EnvelopeBuilder::measure_channel(const std::uint8_t* pcm, std::uint64_t count, std::size_t index) {
  switch (bytes_) {
    case 1: load_channel<1>(pcm, count, index); break;
    case 2: load_channel<2>(pcm, count, index); break;
    case 3: load_channel<3>(pcm, count, index); break;
    default: load_channel<4>(pcm, count, index); break;
  }
  Channel& channel = channels_[index];
  filter_channel(channel, count);
  // The last warm_up_ samples of history and piece together are the next piece's history.
  std::copy_n(channel.stream.begin() + static_cast<std::ptrdiff_t>(count), warm_up_, channel.stream.begin());
}

// Each lane filters a part of the piece: lane k's part starts at sample k * part.
std::size_t EnvelopeBuilder::part_of(std::uint64_t count) const {
  return static_cast<std::size_t>((count + LANES - 1) / LANES);
}

template <int Bytes>
void EnvelopeBuilder::load_channel(const std::uint8_t* pcm, std::uint64_t count, std::size_t index) {
  std::vector<float>& stream = channels_[index].stream;
  const std::size_t samples = static_cast<std::size_t>(count);
  stream.resize(warm_up_ + LANES * part_of(count));
  const std::size_t frame_bytes = Bytes * channel_count_;
  const std::uint8_t* p = pcm + index * Bytes;
  float* to = stream.data() + warm_up_;
  if (processor_has_avx2()) {
    decode_channel_avx2<Bytes>(p, frame_bytes, samples, scale_, to);
  } else {
    decode_channel_baseline<Bytes>(p, frame_bytes, samples, scale_, to);
  }
  std::fill(stream.begin() + static_cast<std::ptrdiff_t>(warm_up_ + samples), stream.end(), 0.0F);
}

namespace {

struct Biquad {
  float b0, b1, b2, a1, a2;
};

// Direct form I, all lanes at once in one vector (GCC and Clang split it into what the
// processor holds). Row j takes sample j of every lane's warm-up and part, in[k * part + j]
// for lane k; the squares of the rows past the warm-up go to out[k * part + j - warm_up].
// Inlined into each version below, which differ only in the instructions the compiler may
// use: every lane does the same operations in the same order in both, so their results are
// the same to the bit. Neither may use fused multiply-adds, which round differently: the
// AVX2 version is not given FMA.
[[gnu::always_inline]] inline void filter_lanes(const float* in, float* out, std::size_t part, std::size_t warm_up,
                                                const Biquad& f) {
  using Vector = float __attribute__((vector_size(LANES * sizeof(float))));
  Vector x1 = {}, x2 = {}, y1 = {}, y2 = {};
  const Vector b0 = Vector{} + f.b0, b1 = Vector{} + f.b1, b2 = Vector{} + f.b2;
  const Vector a1 = Vector{} + f.a1, a2 = Vector{} + f.a2;
  const std::size_t rows = warm_up + part;
  for (std::size_t j = 0; j < rows; ++j) {
    Vector x;
    for (std::size_t k = 0; k < LANES; ++k) x[k] = in[k * part + j];
    // The recursion's own term comes last: each output waits on one multiply and one add.
    const Vector y = (b0 * x + b1 * x1 + b2 * x2 - a2 * y2) - a1 * y1;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    if (j < warm_up) continue;
    const Vector square = y * y;
    for (std::size_t k = 0; k < LANES; ++k) out[k * part + j - warm_up] = square[k];
  }
}

// The baseline instruction set holds half the lanes in a register and too few registers for
// the filter's state, which then goes to and from memory every row.
void filter_lanes_baseline(const float* in, float* out, std::size_t part, std::size_t warm_up, const Biquad& f) {
  filter_lanes(in, out, part, warm_up, f);
}

[[gnu::target("avx2")]] void filter_lanes_avx2(const float* in, float* out, std::size_t part, std::size_t warm_up,
                                               const Biquad& f) {
  filter_lanes(in, out, part, warm_up, f);
}

}  // namespace

void EnvelopeBuilder::filter_channel(Channel& channel, std::uint64_t count) const {
  const std::size_t part = part_of(count);
  channel.squares.resize(LANES * part);
  const Biquad biquad{b0_, b1_, b2_, a1_, a2_};
  if (processor_has_avx2()) {
    filter_lanes_avx2(channel.stream.data(), channel.squares.data(), part, warm_up_, biquad);
  } else {
    filter_lanes_baseline(channel.stream.data(), channel.squares.data(), part, warm_up_, biquad);
  }
}

namespace {

// The sum of values, in eight partial sums that the compiler keeps in vector registers: one
// running sum would make each addition wait for the one before.
float sum_of(const float* values, std::uint64_t count) {
  float partial[8] = {};
  std::uint64_t i = 0;
  for (; i + 8 <= count; i += 8) {
    for (int k = 0; k < 8; ++k) partial[k] += values[i + static_cast<std::uint64_t>(k)];
  }
  float sum = 0;
  for (; i < count; ++i) sum += values[i];
  for (const float p : partial) sum += p;
  return sum;
}

}  // namespace

void EnvelopeBuilder::add_energies(std::uint64_t count) {
  std::uint64_t done = 0;
  while (done < count) {
    const std::uint64_t run = std::min(count - done, block_end_ - frame_);
    for (std::size_t c = 0; c < channel_count_; ++c) block_energy_[c] += sum_of(channels_[c].squares.data() + done, run);
    done += run;
    frame_ += run;
    if (frame_ == block_end_) close_block();
  }
}

void EnvelopeBuilder::close_block() {
  const std::uint64_t frames = frame_ - format_block_sample(block_, rate_);
  if (frames > 0) {
    double loudest = 0;
    for (double& energy : block_energy_) {
      loudest = std::max(loudest, energy);
      energy = 0;
    }
    const double mean_square = loudest / static_cast<double>(frames);
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
