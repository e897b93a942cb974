// The one pass over the audio that a picture needs: the waveform and mood of the part shown
// and, for what detect would find, the envelope of the whole recording, from one decoding.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "detect/envelope.h"
#include "formats/format.h"
#include "plot/columns.h"
#include "plot/mood.h"
#include "plot/view.h"

struct PlotPassRequest {
  PlotView view;
  bool each_channel = false;  // one waveform per channel
  bool mood = false;          // measure the bands of the mood bar
  bool envelope = false;      // read the whole recording for its envelope, not the view alone
};

struct PlotPassResult {
  std::vector<std::vector<GraphPoint>> waveforms;
  std::int64_t full_scale = 0;
  std::vector<BandEnergies> mood;  // empty unless asked for
  std::optional<Envelope> envelope;
  std::uint64_t frames_read = 0;
};

// Called now and then with the fraction of the pass done.
using PlotProgressFunc = void (*)(void* user_data, double fraction);

// Reads what request needs of file once, in order, through a fixed buffer. std::nullopt with a
// reason when its first read fails or its samples cannot be measured; a read that fails later
// ends the pass there (the format module has warned), the columns after it staying empty.
std::optional<PlotPassResult> plot_read(AudioFile& file, const PlotPassRequest& request, ErrorText* error,
                                        PlotProgressFunc progress = nullptr, void* user_data = nullptr);

// The sample frames that reading file to its end yields, for a file that does not state its
// length; std::nullopt with a reason when not even its first read succeeds.
std::optional<std::uint64_t> plot_count_frames(AudioFile& file, ErrorText* error);
