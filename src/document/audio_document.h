// An opened audio file with its background waveform analysis, its preview playback and its
// split writer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "document/split_writer.h"
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

// Registers the format modules; call before the first audio_document_open.
void audio_document_init();
// Opens path and starts its analysis; nullptr with a reason in *error when no module opens
// it or its format cannot be measured in blocks. error must not be null.
AudioDocumentPtr audio_document_open(const std::string& path, ErrorText* error,
                                     DocumentAnalysis analysis = DocumentAnalysis::waveform);
// Takes an already opened file (the tests' way to bring their own module).
AudioDocumentPtr audio_document_open_file(AudioFilePtr file, ErrorText* error,
                                          DocumentAnalysis analysis = DocumentAnalysis::waveform);
// Ends the analysis and any playback, joins their threads and closes the file.
void audio_document_close(AudioDocumentPtr document);

void audio_document_print_info(const AudioDocument& document);
int audio_document_is_analyzed(AudioDocument& document);
// Returns as soon as the analysis has ended.
void audio_document_wait_analyzed(AudioDocument& document);
double audio_document_get_progress(AudioDocument& document);
// Why an analysed document has no usable analysis (no graph memory, unreadable audio);
// std::nullopt when the analysis succeeded or still runs.
ErrorText audio_document_get_error(AudioDocument& document);
// Meaningful once analysed.
std::uint64_t audio_document_get_block_count(const AudioDocument& document);
// The graph once analysed, nullptr before.
const GraphInfo* audio_document_get_graph(AudioDocument& document);
const std::string& audio_document_get_stem(const AudioDocument& document);
const std::string& audio_document_get_dir_name(const AudioDocument& document);
const std::string& audio_document_get_base_name(const AudioDocument& document);
const std::string& audio_document_get_path(const AudioDocument& document);
std::int64_t audio_document_get_file_size(const AudioDocument& document);

// The name without the opening module's extension, else without its last ".suffix".
std::string audio_document_make_stem(const FormatModule& module, const std::string& base_name);

// Min and max of the first channel's samples of one block (8, 16 or 24 bit; any other
// depth gives {0, 0}). A sample whose bytes reach past the block is not looked at.
GraphPoint analysis_block_extremes(std::span<const std::uint8_t> block, std::uint32_t bits,
                                   std::uint32_t channels);

// Preview playback. start: 0 started, 2 already playing, 3 no audio file, 4 the analysis has
// not finished yet.
constexpr std::size_t PLAY_CHUNK = 4096;
int audio_document_start_playback(AudioDocument& document, std::uint64_t start_block);
// Asks a running playback to stop and joins its thread; returns at once when none runs.
void audio_document_stop_playback(AudioDocument& document);
int audio_document_is_playing(AudioDocument& document);
std::uint64_t audio_document_get_play_position(AudioDocument& document);
void play_thread(AudioDocument* document);
