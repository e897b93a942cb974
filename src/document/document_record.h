// The record of an opened audio document: its file, and the state its analysis, playback and
// split threads share. Every part of the document reads it; only audio_document.h acts on it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "document/split_job.h"
#include "formats/format.h"

// The smallest and largest first-channel sample of one block, in the file's bit depth.
struct GraphPoint {
  std::int32_t min = 0;
  std::int32_t max = 0;
};

struct GraphInfo {
  std::uint64_t block_count = 0;       // whole blocks + 1; 0 until the analysis ends
  std::uint64_t max_sample_value = 0;  // full scale of the bit depth (255, 32767, 8388607)
  std::uint64_t max_range = 0;
  std::uint64_t min_range = 0;
  std::vector<GraphPoint> graph_data;  // block_count entries; none when only the length was measured
};

// What the analysis of a document measures: the waveform of every block, or only the
// length, which needs no pass over the audio when the file states its length exactly (a
// file that does not is analysed in full either way).
enum class DocumentAnalysis { waveform, length };

struct AudioDocument {
  AudioFilePtr audio_file;
  std::string dir_name;
  std::string base_name;
  std::string stem;

  // Analysis state. The graph is written by the analysis thread before it sets
  // analysis_done under the lock, and read by others only after they saw it set.
  DocumentAnalysis analysis = DocumentAnalysis::waveform;
  std::mutex analysis_mutex;
  std::condition_variable analysis_finished;  // signalled when analysis_done is set
  int analysis_done = 0;
  GraphInfo graph;
  double analysis_progress = 0.0;
  ErrorText analysis_error;      // why the analysis could not run; under analysis_mutex
  int analysis_cancelled = 0;    // set by close; under analysis_mutex
  std::thread analysis_thread;   // "open file"

  // Playback state, all under play_mutex.
  std::thread play_thread_handle;  // "play_sample"
  std::mutex play_mutex;
  int playing = 0;
  int stop_requested = 0;
  std::uint64_t play_position = 0;      // blocks
  std::uint64_t play_start_offset = 0;  // bytes

  // Split state: splitting under split_mutex; split_job belongs to the running job.
  std::mutex split_mutex;
  int splitting = 0;
  SplitJob split_job;
  std::thread split_thread_handle;  // "write data"

  AudioDocument() = default;
  AudioDocument(const AudioDocument&) = delete;
  AudioDocument& operator=(const AudioDocument&) = delete;
  // Stops and joins every thread of the document before the file is closed.
  ~AudioDocument();
};
using AudioDocumentPtr = std::unique_ptr<AudioDocument>;
