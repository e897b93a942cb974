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
  // One channel's filter input and output for the piece being fed.
  struct Channel {
    // Its last warm_up_ samples before the piece, then the piece, then zeros up to whole
    // lanes: the parts that the lanes filter side by side all lie in here.
    std::vector<float> stream;
    std::vector<float> squares;  // the squared filter output of the piece, in stream order
  };

  void measure_channel(const std::uint8_t* pcm, std::uint64_t count, std::size_t index);
  std::size_t part_of(std::uint64_t count) const;
  template <int Bytes>
  void load_channel(const std::uint8_t* pcm, std::uint64_t count, std::size_t index);
  void filter_channel(Channel& channel, std::uint64_t count) const;
  void add_energies(std::uint64_t count);
  void close_block();

  std::uint32_t rate_;
  std::uint32_t bytes_;
  std::size_t channel_count_;
  std::size_t warm_up_;  // samples a lane filters before its own part
  float scale_;          // to full scale 1.0
  float b0_ = 0, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
  std::vector<Channel> channels_;
  std::vector<double> block_energy_;  // per channel, of the current block
  std::uint64_t block_ = 0;           // the block being measured
  std::uint64_t block_end_ = 0;       // its first frame after
  std::uint64_t frame_ = 0;           // frames taken so far
  Envelope envelope_;
};
