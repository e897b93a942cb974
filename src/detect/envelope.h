// The level of a recording over time: one value per block of 1/75 second, the RMS of its
// loudest channel after a high-pass that keeps turntable rumble out, in steps of half a
// decibel. One byte a block keeps an hour in about 270 kB, however the audio is stored.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// A level in half decibels above -128 dBFS: 0 is -128 dBFS or less (digital silence), 255 is
// -0.5 dBFS or more.
using LevelCode = std::uint8_t;

// The code nearest to db, clamped to the range of codes.
LevelCode level_code(double db);
// The dBFS a code stands for.
double level_db(LevelCode code);

struct Envelope {
  std::vector<LevelCode> levels;  // block b's level at index b; a partial last block included
  std::uint32_t rate = 0;
  std::uint64_t frames = 0;       // sample frames measured
};

// Turns interleaved little-endian PCM (unsigned at 8 bits, signed otherwise, as the format
// layer delivers it) into an Envelope, piece by piece in stream order.
class EnvelopeBuilder {
 public:
  // bytes_per_sample 1 to 4 of a frame of channels samples; rate in Hz (not 0).
  EnvelopeBuilder(std::uint32_t rate, std::uint32_t channels, std::uint32_t bytes_per_sample);
  // Takes the next whole frames of pcm; a partial frame at its end is ignored, so callers hand
  // in whole frames.
  void feed(std::span<const std::uint8_t> pcm);
  // The envelope of everything fed, its partial last block included. The builder is spent.
  Envelope finish();

 private:
  // One channel's high-pass (the last two inputs and outputs) and its energy in the block.
  struct Channel {
    float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    float energy = 0;
  };
  template <int Bytes>
  void feed_frames(const std::uint8_t* data, std::uint64_t count);
  template <int Bytes, int Lanes>
  void filter_run(const std::uint8_t* data, std::uint64_t count, std::size_t first);
  void close_block();

  std::uint32_t rate_;
  std::uint32_t bytes_;
  float scale_;  // to full scale 1.0
  float b0_ = 0, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
  std::vector<Channel> channels_;
  std::uint64_t block_ = 0;        // the block being measured
  std::uint64_t block_end_ = 0;    // its first frame after
  std::uint64_t frame_ = 0;        // frames taken so far
  Envelope envelope_;
};
