#include "plot/pass.h"

#include <algorithm>

#include "formats/registry.h"

namespace {

// As the analysis reads: large enough that the format layer's cost per call vanishes, small
// enough to stay in the cache between the decoder and the scans.
constexpr std::size_t READ_BYTES = 1 << 18;

PcmLayout layout_of(const SampleInfo& si) {
  return {si.channels, si.channels == 0 ? 0 : si.blockAlign / si.channels};
}

std::vector<std::uint8_t> read_buffer(const SampleInfo& si) {
  return std::vector<std::uint8_t>(std::max<std::size_t>(READ_BYTES / si.blockAlign, 1) * si.blockAlign);
}

// The feeds of one pass, each taking the frames it wants of every piece read.
struct Sinks {
  ColumnReducer columns;
  std::optional<MoodAnalyser> mood;
  std::optional<EnvelopeBuilder> envelope;

  void feed(std::uint64_t frame, std::span<const std::uint8_t> pcm) {
    columns.feed(frame, pcm);
    if (mood) mood->feed(frame, pcm);
    if (envelope) envelope->feed(pcm);
  }
};

// Reads frames [first, end) through buffer into sinks; the frame it stopped at, or
// std::nullopt when the first read failed.
std::optional<std::uint64_t> read_range(AudioFile& file, std::uint64_t first, std::uint64_t end, Sinks& sinks,
                                        PlotProgressFunc progress, void* user_data) {
  const std::uint64_t frame_bytes = file.si.blockAlign;
  std::vector<std::uint8_t> buffer = read_buffer(file.si);
  std::uint64_t frame = first;
  while (frame < end) {
    const std::uint64_t wanted = std::min<std::uint64_t>(buffer.size(), (end - frame) * frame_bytes);
    const std::int64_t got =
        format_read_data(file, std::span(buffer.data(), static_cast<std::size_t>(wanted)), frame * frame_bytes);
    if (got < 0 && frame == first) return std::nullopt;
    // Whole frames only: a decoder that hands out a partial frame gives the rest next time.
    const std::uint64_t whole = got <= 0 ? 0 : static_cast<std::uint64_t>(got) / frame_bytes;
    if (whole == 0) break;
    sinks.feed(frame, std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(whole * frame_bytes)));
    frame += whole;
    if (progress != nullptr) progress(user_data, static_cast<double>(frame - first) / static_cast<double>(end - first));
  }
  return frame;
}

}  // namespace

std::optional<PlotPassResult> plot_read(AudioFile& file, const PlotPassRequest& request, ErrorText* error,
                                        PlotProgressFunc progress, void* user_data) {
  const SampleInfo& si = file.si;
  const PcmLayout layout = layout_of(si);
  if (layout.bytes_per_sample < 1 || layout.bytes_per_sample > 4 || si.samplesPerSec == 0) {
    set_error_message(error, "%u bytes a sample cannot be measured", layout.bytes_per_sample);
    return std::nullopt;
  }
  Sinks sinks{ColumnReducer(request.view, layout, request.each_channel), std::nullopt, std::nullopt};
  if (request.mood) sinks.mood.emplace(request.view, si.samplesPerSec, layout);
  if (request.envelope) sinks.envelope.emplace(si.samplesPerSec, si.channels, layout.bytes_per_sample);
  // The envelope is of the whole recording, so that detect's breaks are the ones drawn.
  const std::uint64_t first = request.envelope ? 0 : request.view.first;
  const std::uint64_t end = request.envelope ? std::max(request.view.end, si.numBytes / si.blockAlign) : request.view.end;
  const std::optional<std::uint64_t> stopped = read_range(file, first, end, sinks, progress, user_data);
  if (!stopped) {
    set_error_message(error, "%s", "The audio data could not be read");
    return std::nullopt;
  }
  PlotPassResult result;
  result.full_scale = sinks.columns.full_scale();
  result.waveforms = sinks.columns.finish();
  if (sinks.mood) result.mood = sinks.mood->finish();
  if (sinks.envelope) result.envelope = sinks.envelope->finish();
  result.frames_read = *stopped - first;
  return result;
}

std::optional<std::uint64_t> plot_count_frames(AudioFile& file, ErrorText* error) {
  const std::uint64_t frame_bytes = file.si.blockAlign;
  std::vector<std::uint8_t> buffer = read_buffer(file.si);
  std::uint64_t frames = 0;
  for (;;) {
    const std::int64_t got = format_read_data(file, buffer, frames * frame_bytes);
    if (got < 0 && frames == 0) {
      set_error_message(error, "%s", "The audio data could not be read");
      return std::nullopt;
    }
    const std::uint64_t whole = got <= 0 ? 0 : static_cast<std::uint64_t>(got) / frame_bytes;
    if (whole == 0) return frames;
    frames += whole;
  }
}
