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

#include "document/document_record.h"
#include "formats/format.h"


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


// Preview playback. start: 0 started, 2 already playing, 3 no audio file, 4 the analysis has
// not finished yet.
constexpr std::size_t PLAY_CHUNK = 4096;
int audio_document_start_playback(AudioDocument& document, std::uint64_t start_block);
// Asks a running playback to stop and joins its thread; returns at once when none runs.
void audio_document_stop_playback(AudioDocument& document);
int audio_document_is_playing(AudioDocument& document);
std::uint64_t audio_document_get_play_position(AudioDocument& document);
void play_thread(AudioDocument* document);
