#include "document/audio_document.h"

#include <glib.h>

#include "document/analysis.h"
#include "formats/registry.h"

namespace {

std::string path_dir_name(const std::string& path) {
  gchar* dir = g_path_get_dirname(path.c_str());
  std::string result(dir);
  g_free(dir);
  return result;
}

std::string path_base_name(const std::string& path) {
  gchar* base = g_path_get_basename(path.c_str());
  std::string result(base);
  g_free(base);
  return result;
}

}  // namespace

AudioDocument::~AudioDocument() {
  // The writer reads the file until its finished call; a caller waits for that first.
  if (split_thread_handle.joinable()) split_thread_handle.join();
  {
    std::lock_guard lock(analysis_mutex);
    analysis_cancelled = 1;
  }
  if (analysis_thread.joinable()) analysis_thread.join();
  audio_document_stop_playback(*this);
  // A playback that ended by itself leaves its finished thread to be joined here.
  if (play_thread_handle.joinable()) play_thread_handle.join();
  if (audio_file) format_close_file(std::move(audio_file));
}

void audio_document_init() { format_init(); }

std::string audio_document_make_stem(const FormatModule& module, const std::string& base_name) {
  if (format_has_extension(module, base_name)) {
    return base_name.substr(0, base_name.size() - std::string_view(module.extension).size());
  }
  const std::size_t dot = base_name.rfind('.');
  return dot == std::string::npos ? base_name : base_name.substr(0, dot);
}

AudioDocumentPtr audio_document_open(const std::string& path, ErrorText* error,
                                     DocumentAnalysis analysis) {
  ErrorText unused;
  if (error == nullptr) error = &unused;
  AudioFilePtr file = format_open_file(path, error);
  if (!file) {
    g_message("Could not open %s with format_open_file(): %s", path.c_str(),
              error->value_or("").c_str());
    return nullptr;
  }
  return audio_document_open_file(std::move(file), error, analysis);
}

AudioDocumentPtr audio_document_open_file(AudioFilePtr file, ErrorText* error,
                                          DocumentAnalysis analysis) {
  ErrorText unused;
  if (error == nullptr) error = &unused;
  // Every position of the document is counted in blocks: a format without a usable block
  // size would divide by zero in the analysis and the playback.
  if (!format_check_block_layout(file->si, error)) {
    g_message("Could not open %s: %s", file->path.c_str(), error->value_or("").c_str());
    format_close_file(std::move(file));
    return nullptr;
  }
  auto document = std::make_unique<AudioDocument>();
  document->dir_name = path_dir_name(file->path);
  document->base_name = path_base_name(file->path);
  document->stem = audio_document_make_stem(*file->module, document->base_name);
  document->audio_file = std::move(file);
  document->analysis = analysis;
  document->analysis_thread = std::thread(audio_document_analyze, std::ref(*document));
  return document;
}

void audio_document_close(AudioDocumentPtr document) { document.reset(); }

void audio_document_print_info(const AudioDocument& document) {
  if (document.audio_file) format_print_info(*document.audio_file);
}

int audio_document_is_analyzed(AudioDocument& document) {
  std::lock_guard lock(document.analysis_mutex);
  return document.analysis_done;
}

void audio_document_wait_analyzed(AudioDocument& document) {
  std::unique_lock lock(document.analysis_mutex);
  document.analysis_finished.wait(lock, [&] { return document.analysis_done != 0; });
}

double audio_document_get_progress(AudioDocument& document) {
  std::lock_guard lock(document.analysis_mutex);
  return document.analysis_progress;
}

ErrorText audio_document_get_error(AudioDocument& document) {
  std::lock_guard lock(document.analysis_mutex);
  return document.analysis_error;
}

std::uint64_t audio_document_get_block_count(const AudioDocument& document) {
  return document.graph.block_count;
}

const GraphInfo* audio_document_get_graph(AudioDocument& document) {
  std::lock_guard lock(document.analysis_mutex);
  return document.analysis_done ? &document.graph : nullptr;
}

const std::string& audio_document_get_stem(const AudioDocument& document) { return document.stem; }

const std::string& audio_document_get_dir_name(const AudioDocument& document) {
  return document.dir_name;
}

const std::string& audio_document_get_base_name(const AudioDocument& document) {
  return document.base_name;
}

const std::string& audio_document_get_path(const AudioDocument& document) {
  return document.audio_file->path;
}

std::int64_t audio_document_get_file_size(const AudioDocument& document) {
  return document.audio_file->file_size;
}
