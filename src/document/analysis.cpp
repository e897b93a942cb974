// The waveform analysis: one sequential pass that records the extremes of every block.
#include <pthread.h>

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstring>
#include <new>
#include <type_traits>

#include "document/analysis.h"
#include "formats/registry.h"

namespace {

// Reads are this large (rounded down to whole blocks): one read per block would spend
// more time in the format layer than in the samples, and a buffer much larger than this
// no longer stays in the cache between the copy from the file and the scan.
constexpr std::uint64_t ANALYSIS_READ_SIZE = 1 << 18;
constexpr std::uint64_t MIN_RANGE_START = 32767;

template <int Bytes>
std::int32_t decode_sample(const std::uint8_t* p) {
  if constexpr (Bytes == 1) {
    return static_cast<std::int32_t>(p[0]) - 128;
  } else if constexpr (Bytes == 2) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | p[1] << 8));
  } else {
    const std::int32_t raw = p[0] | p[1] << 8 | p[2] << 16;
    return (raw ^ 0x800000) - 0x800000;
  }
}

template <int Bytes>
GraphPoint first_channel_extremes(std::span<const std::uint8_t> block, std::size_t frame,
                                  std::size_t from = 0, GraphPoint start = {}) {
  std::int32_t low = start.min;
  std::int32_t high = start.max;
  const std::uint8_t* data = block.data();
  for (std::size_t p = from; p + Bytes <= block.size(); p += frame) {
    const std::int32_t sample = decode_sample<Bytes>(data + p);
    low = std::min(low, sample);
    high = std::max(high, sample);
  }
  return {low, high};
}

// The same rule, 16 bytes at a time: every lane keeps its own extremes and only the lanes
// that fall on a frame's first sample are looked at in the end. Frames must tile the 16
// bytes; the compiler turns the lane loops into vector instructions.
constexpr std::size_t LANE_BYTES = 16;

template <typename Lane>
GraphPoint lane_extremes(std::span<const std::uint8_t> block, std::size_t frame) {
  constexpr std::size_t lanes = LANE_BYTES / sizeof(Lane);
  Lane low[lanes];
  Lane high[lanes];
  for (std::size_t j = 0; j < lanes; ++j) low[j] = high[j] = std::is_signed_v<Lane> ? 0 : 128;
  std::size_t p = 0;
  for (; p + LANE_BYTES <= block.size(); p += LANE_BYTES) {
    Lane values[lanes];
    std::memcpy(values, block.data() + p, LANE_BYTES);
    for (std::size_t j = 0; j < lanes; ++j) {
      low[j] = std::min(low[j], values[j]);
      high[j] = std::max(high[j], values[j]);
    }
  }
  GraphPoint result;
  const std::size_t step = frame / sizeof(Lane);
  for (std::size_t j = 0; j < lanes; j += step) {
    const std::int32_t bias = std::is_signed_v<Lane> ? 0 : 128;
    result.min = std::min(result.min, static_cast<std::int32_t>(low[j]) - bias);
    result.max = std::max(result.max, static_cast<std::int32_t>(high[j]) - bias);
  }
  return first_channel_extremes<sizeof(Lane)>(block, frame, p, result);
}

template <typename Lane>
bool lanes_fit(std::size_t frame) {
  return std::endian::native == std::endian::little && frame <= LANE_BYTES &&
         LANE_BYTES % frame == 0;
}

std::uint64_t full_scale(std::uint32_t bits) {
  switch (bits) {
    case 8: return 255;
    case 16: return 32767;
    case 24: return 8388607;
    default: return 0;
  }
}

// One entry per whole block and one for the partial block at the end. Every analysis takes
// its length from here.
std::uint64_t graph_entries(const SampleInfo& si) {
  return format_block_count(si.numBytes / si.blockAlign, si.samplesPerSec);
}

// How many blocks one read asks for, and the buffer that holds them.
struct BatchPlan {
  std::uint64_t blocks = 1;
  std::size_t buffer_bytes = 0;
};

BatchPlan batch_plan(const SampleInfo& si) {
  // The longest block holds ceil(rate / 75) frames.
  const std::uint64_t longest_block = (std::uint64_t{si.samplesPerSec} + 74) / 75 * si.blockAlign;
  const std::uint64_t batch_blocks = std::max<std::uint64_t>(1, ANALYSIS_READ_SIZE / longest_block);
  // A header may claim any rate and frame size: never hold more than the data and the
  // partial block at its end (a decoder may deliver that one whole).
  const std::uint64_t reachable = si.numBytes + std::min(longest_block, UINT64_MAX - si.numBytes);
  return {batch_blocks, static_cast<std::size_t>(std::min(batch_blocks * longest_block, reachable))};
}

// Reads the blocks [first, first + wanted) into buffer, as far as it holds them: the bytes
// delivered, or -1. Blocks are not all of one length: block b is the PCM from
// format_block_offset(b) to format_block_offset(b + 1).
std::int64_t read_batch(AudioFile& file, std::vector<std::uint8_t>& buffer, std::uint64_t first,
                        std::uint64_t wanted) {
  const std::uint64_t batch_start = format_block_offset(first, file.si);
  const std::uint64_t batch_bytes = format_block_offset(first + wanted, file.si) - batch_start;
  const std::uint64_t read_bytes = std::min<std::uint64_t>(batch_bytes, buffer.size());
  return format_read_data(file, std::span(buffer.data(), static_cast<std::size_t>(read_bytes)), batch_start);
}

// Publishes how far the pass got; false when the document is being closed.
bool publish_progress(AudioDocument& document, std::uint64_t last_block, std::uint64_t entries) {
  std::lock_guard lock(document.analysis_mutex);
  document.analysis_progress = static_cast<double>(last_block) / static_cast<double>(entries);
  return document.analysis_cancelled == 0;
}

void record_block(GraphInfo& graph, std::uint64_t index, GraphPoint point) {
  graph.graph_data[index] = point;
  const auto range = static_cast<std::uint64_t>(static_cast<std::int64_t>(point.max) - point.min);
  graph.min_range = std::min(graph.min_range, range);
  graph.max_range = std::max(graph.max_range, range);
}

// Analyses up to entries whole blocks; returns how many were analysed, or -1 when the
// very first read failed. Stops at the first block that a read does not deliver whole,
// exactly where reading one block at a time would have stopped.
std::int64_t analyse_blocks(AudioDocument& document, GraphInfo& graph, std::uint64_t entries) {
  AudioFile& file = *document.audio_file;
  const SampleInfo& si = file.si;
  const BatchPlan plan = batch_plan(si);
  std::vector<std::uint8_t> buffer(plan.buffer_bytes);

  std::uint64_t analysed = 0;
  while (analysed < entries) {
    const std::uint64_t wanted = std::min(plan.blocks, entries - analysed);
    const std::uint64_t batch_start = format_block_offset(analysed, si);
    const std::int64_t got = read_batch(file, buffer, analysed, wanted);
    if (got < 0) return analysed == 0 ? -1 : static_cast<std::int64_t>(analysed);
    std::uint64_t whole = 0;
    for (; whole < wanted; ++whole) {
      const std::uint64_t from = format_block_offset(analysed + whole, si) - batch_start;
      const std::uint64_t to = format_block_offset(analysed + whole + 1, si) - batch_start;
      if (to > static_cast<std::uint64_t>(got)) break;
      const std::span<const std::uint8_t> block(buffer.data() + from, static_cast<std::size_t>(to - from));
      record_block(graph, analysed + whole, analysis_block_extremes(block, si.bitsPerSample, si.channels));
    }
    analysed += whole;
    if (whole > 0 && !publish_progress(document, analysed - 1, entries)) break;
    if (whole < wanted) break;
  }
  return static_cast<std::int64_t>(analysed);
}

void finish_analysis(AudioDocument& document, GraphInfo graph, ErrorText error) {
  if (error) g_warning("Analysis of %s failed: %s", document.audio_file->path.c_str(), error->c_str());
  document.graph = std::move(graph);
  std::lock_guard lock(document.analysis_mutex);
  document.analysis_error = std::move(error);
  document.analysis_progress = 1.0;
  document.analysis_done = 1;
  document.analysis_finished.notify_all();
}

ErrorText unreadable_error() {
  ErrorText error;
  set_error_message(&error, "%s", "The audio data could not be read");
  return error;
}

// The length the file states, without a waveform. Only the first read of the full
// analysis is made, since it alone decides whether the audio counts as unreadable: the
// result is the one the full analysis would give.
void measure_length(AudioDocument& document) {
  AudioFile& file = *document.audio_file;
  const SampleInfo& si = file.si;
  const std::uint64_t entries = graph_entries(si);
  const std::uint64_t count = entries - 1;
  const BatchPlan plan = batch_plan(si);
  std::vector<std::uint8_t> buffer(plan.buffer_bytes);
  const std::int64_t got = read_batch(file, buffer, 0, std::min(plan.blocks, entries));
  const bool unreadable =
      got < 0 || (count > 0 && static_cast<std::uint64_t>(got) < format_block_offset(1, si));

  GraphInfo graph;
  graph.min_range = MIN_RANGE_START;
  graph.block_count = entries;
  graph.max_sample_value = full_scale(si.bitsPerSample);
  finish_analysis(document, std::move(graph), unreadable ? unreadable_error() : ErrorText());
}

}  // namespace

GraphPoint analysis_block_extremes(std::span<const std::uint8_t> block, std::uint32_t bits,
                                   std::uint32_t channels) {
  const std::size_t frame = static_cast<std::size_t>(bits / 8) * channels;
  if (frame == 0) return {};
  switch (bits) {
    case 8:
      if (lanes_fit<std::uint8_t>(frame)) return lane_extremes<std::uint8_t>(block, frame);
      return first_channel_extremes<1>(block, frame);
    case 16:
      if (lanes_fit<std::int16_t>(frame)) return lane_extremes<std::int16_t>(block, frame);
      return first_channel_extremes<2>(block, frame);
    case 24: return first_channel_extremes<3>(block, frame);
    default: return {};
  }
}

void audio_document_analyze(AudioDocument& document) {
  pthread_setname_np(pthread_self(), "open file");
  if (document.analysis == DocumentAnalysis::length && document.audio_file->exact_length) {
    measure_length(document);
    return;
  }
  const SampleInfo& si = document.audio_file->si;
  const std::uint64_t entries = graph_entries(si);
  const std::uint64_t count = entries - 1;

  GraphInfo graph;
  graph.min_range = MIN_RANGE_START;
  if (count >= graph.graph_data.max_size()) {
    ErrorText error;
    set_error_message(&error, "Not enough memory for the waveform of %" PRIu64 " blocks", count);
    finish_analysis(document, std::move(graph), std::move(error));
    return;
  }
  try {
    graph.graph_data.resize(static_cast<std::size_t>(entries));
  } catch (const std::bad_alloc&) {
    ErrorText error;
    set_error_message(&error, "Not enough memory for the waveform of %" PRIu64 " blocks", entries);
    finish_analysis(document, std::move(graph), std::move(error));
    return;
  }

  const std::int64_t analysed = analyse_blocks(document, graph, entries);
  ErrorText error;
  if (analysed < 0 || (analysed == 0 && count > 0)) error = unreadable_error();
  graph.block_count = entries;
  graph.max_sample_value = full_scale(si.bitsPerSample);
  finish_analysis(document, std::move(graph), std::move(error));
}
