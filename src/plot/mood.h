// The mood of a recording per column: the energy of its low, middle and high frequencies,
// which the picture shows as red, green and blue. The channels are mixed to one signal and
// split at about 200 Hz and 2 kHz by two cascaded one-pole low-passes, so that the three bands
// add up to the signal. A column of many frames is measured in a few windows spread over it
// rather than in full: the balance of the bands over a second or more changes slowly, and the
// pass stays as fast as reading the audio.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "plot/columns.h"
#include "plot/view.h"

struct BandEnergies {
  double low = 0;  // sums of the squared band signals, full scale 1.0
  double middle = 0;
  double high = 0;
  std::uint64_t frames = 0;  // how many frames the sums hold
};

class MoodAnalyser {
 public:
  MoodAnalyser(const PlotView& view, std::uint32_t rate, const PcmLayout& layout);
  // As ColumnReducer::feed: whole frames in ascending order; frames outside the view and
  // between the measured windows are passed over.
  void feed(std::uint64_t first_frame, std::span<const std::uint8_t> pcm);
  std::vector<BandEnergies> finish() { return std::move(columns_); }

 private:
  struct Run {
    std::uint64_t begin = 0;  // the filters start here
    std::uint64_t counted = 0;  // energies count from here
    std::uint64_t end = 0;
  };
  struct Filters {
    float low1 = 0, low2 = 0, high1 = 0, high2 = 0;
  };
  Run next_run(std::uint64_t frame) const;
  // Mixes count frames from data into mixed_.
  void mix(const std::uint8_t* data, std::uint64_t count);
  void filter(std::span<const float> samples, BandEnergies* into);
  void start_run(float first_sample);
  void measure(std::uint64_t frame, const std::uint8_t* data, std::uint64_t count);

  PlotView view_;
  PcmLayout layout_;
  std::uint64_t warm_up_;
  std::uint64_t window_;
  bool whole_columns_;
  float low_alpha_;
  float high_alpha_;
  float scale_;
  Run run_;
  bool in_run_ = false;
  Filters filters_;
  std::vector<float> mixed_;  // the frames being measured, mixed to one signal
  std::vector<BandEnergies> columns_;
};
