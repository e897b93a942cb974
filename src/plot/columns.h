// The waveform of a picture: per column the smallest and largest sample of the frames it
// covers, of all channels together or of each channel, reduced as the PCM streams past, so
// that the memory is that of the columns whatever the recording's length.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "document/document_record.h"
#include "plot/view.h"

// How PCM frames are laid out, as the format layer delivers them: little-endian samples of
// bytes_per_sample bytes (unsigned at one byte, signed otherwise), channels to a frame.
struct PcmLayout {
  std::uint32_t channels = 1;
  std::uint32_t bytes_per_sample = 2;
  std::uint32_t frame_bytes() const { return channels * bytes_per_sample; }
};

class ColumnReducer {
 public:
  // each_channel: one waveform per channel; otherwise one of every channel's samples.
  ColumnReducer(const PlotView& view, const PcmLayout& layout, bool each_channel);
  // Takes whole frames of pcm, the first of them frame first_frame; frames outside the view
  // are passed over. Frames must come in ascending order.
  void feed(std::uint64_t first_frame, std::span<const std::uint8_t> pcm);
  // The waveforms: one per channel, or one. A column in which no frame starts (when columns are
  // narrower than frames) shows the frame it lies in; a column the audio did not reach (it
  // ended early) is {0, 0}.
  std::vector<std::vector<GraphPoint>> finish();
  // The largest magnitude of the samples' depth (127, 32767, 8388607; 32-bit samples are
  // measured by their upper 24 bits).
  std::int64_t full_scale() const;

 private:
  void add(std::uint32_t column, std::span<const std::uint8_t> frames);

  PlotView view_;
  PcmLayout layout_;
  std::vector<std::vector<GraphPoint>> lanes_;
};
