#include "document/split_writer.h"

#include <glib.h>
#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>

#include "breaks/metadata.h"
#include "breaks/naming_walk.h"
#include "document/audio_document.h"

namespace {

std::string source_extension(const std::string& source_path, const FormatModule& module) {
  // Only the file's own name counts: a '.' in a folder name is no extension.
  const std::size_t slash = source_path.rfind('/');
  const std::string name = slash == std::string::npos ? source_path : source_path.substr(slash + 1);
  // A two-part extension such as ".cdda.raw" stays whole, so the tracks open as the source does.
  if (format_has_extension(module, name)) {
    return name.substr(name.size() - std::strlen(module.extension));
  }
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string(module.extension) : name.substr(dot);
}

// Why a name from the list would put its track outside the output folder; nullptr when it
// stays inside. Break lists come from elsewhere, so a name is never trusted to stay inside.
const char* escape_reason(std::string_view name) {
  if (name.starts_with('/')) return "an absolute path leads";
  for (std::size_t from = 0; from <= name.size();) {
    const std::size_t slash = std::min(name.find('/', from), name.size());
    if (name.substr(from, slash - from) == "..") return "a '..' component can lead";
    from = slash + 1;
  }
  return nullptr;
}

// The answer for this track: the standing one, or the user's when the file exists and no
// standing answer applies. Sets write_it to whether the track is to be written.
int answer_for(const SplitCallbacks& callbacks, const std::string& path, int standing,
               bool& write_it) {
  write_it = true;
  if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) return standing;
  const int answer =
      standing == OVERWRITE_ASK ? callbacks.ask_overwrite(path, callbacks.user_data) : standing;
  write_it = answer == OVERWRITE_YES || answer == OVERWRITE_ALL;
  return answer;
}

// Writes one track unless the user keeps the file already there. The answer that applied.
int write_track(SplitJob& job, const TrackRequest& request, int standing) {
  const SplitCallbacks& callbacks = job.callbacks;
  const std::string path(request.path);
  bool write_it = true;
  const int answer = answer_for(callbacks, path, standing, write_it);
  // The track reaches its final name only once it is complete, so a failed write neither
  // replaces the user's file nor leaves a partial track behind.
  if (write_it && format_write_track(*job.document->audio_file, request) == -1) {
    g_warning("Could not write file %s", path.c_str());
    callbacks.write_error(path, callbacks.user_data);
  }
  return answer;
}

void write_tracks(SplitJob& job) {
  const TrackBreakList& list = *job.break_list;
  const SplitCallbacks& callbacks = job.callbacks;
  const AudioFile& file = *job.document->audio_file;
  const int count = static_cast<int>(std::count_if(
      list.breaks.begin(), list.breaks.end(), [](const TrackBreak& brk) { return brk.write != 0; }));

  if (job.tags && !file.module->carries_tags) {
    g_warning("%s files carry no tags: the tracks are written without them", file.module->name);
  }
  TrackNamer namer(list);
  int index = 1;
  int standing = OVERWRITE_ASK;
  for (std::size_t i = 0; i < list.breaks.size(); ++i) {
    if (callbacks.is_cancelled(callbacks.user_data) != 0) return;
    const TrackBreak& brk = list.breaks[i];
    if (brk.write == 0) continue;
    // The next break bounds the track whether it is written or not.
    const std::uint64_t start = format_block_offset(brk.offset, file.si);
    const std::uint64_t end =
        i + 1 < list.breaks.size() ? format_block_offset(list.breaks[i + 1].offset, file.si) : 0;
    const std::string name = namer.name(i);
    const std::string path = split_output_path(job.output_folder, name, file.path, *file.module);

    callbacks.file_started(index, count, path, callbacks.user_data);
    callbacks.progress(callbacks.user_data, 0.0);
    int answer = standing;
    if (const char* reason = escape_reason(name)) {
      g_warning("Refusing track name '%s' from the break list: %s outside the output folder",
                name.c_str(), reason);
      callbacks.write_error(path, callbacks.user_data);
    } else {
      const std::optional<TrackTags> tags =
          job.tags ? std::optional(track_break_list_tags(list, i)) : std::nullopt;
      TrackRequest request{nullptr, path, start, end, static_cast<int>(i + 1), split_progress_relay,
                           &job.callbacks};
      request.tags = tags ? &*tags : nullptr;
      request.gapless = job.gapless;
      answer = write_track(job, request, standing);
    }
    callbacks.progress(callbacks.user_data, 1.0);
    standing = (answer == OVERWRITE_SKIP_ALL || answer == OVERWRITE_ALL) ? answer : OVERWRITE_ASK;
    ++index;
  }
}

}  // namespace

std::string split_output_path(const std::string& folder, const std::string& name,
                              const std::string& source_path, const FormatModule& module) {
  std::string path = folder + "/" + name;
  const std::string extension = source_extension(source_path, module);
  if (path.find(extension) == std::string::npos) path += extension;
  return path;
}

void split_progress_relay(void* user_data, double fraction) {
  const auto* callbacks = static_cast<const SplitCallbacks*>(user_data);
  callbacks->progress(callbacks->user_data, fraction);
}

void split_thread(SplitJob* job) {
  pthread_setname_np(pthread_self(), "write data");
  write_tracks(*job);
  {
    std::lock_guard lock(job->document->split_mutex);
    job->document->splitting = 0;
  }
  job->callbacks.finished(job->callbacks.user_data);
}

int audio_document_start_split(AudioDocument& document, const TrackBreakList& list,
                               const SplitCallbacks& callbacks, const std::string& output_folder,
                               bool tags, bool gapless) {
  if (!document.audio_file) return -1;
  // A decoding module reads through one decoder: the analysis must have let go of it.
  if (!audio_document_is_analyzed(document)) return -1;
  {
    // Checked and claimed in one step: of two callers, one starts and the other is refused,
    // instead of both replacing the job and the thread under each other.
    std::lock_guard lock(document.split_mutex);
    if (document.splitting != 0) return -1;
    // A job started from the previous job's finished callback would have to join itself.
    if (document.split_thread_handle.get_id() == std::this_thread::get_id()) return -1;
    document.splitting = 1;
  }
  // The claim keeps every other caller out: the job and the handle are ours to replace. The
  // previous job has made its finished call; its thread is about to end.
  if (document.split_thread_handle.joinable()) document.split_thread_handle.join();
  document.split_job = SplitJob{&document, &list, callbacks, output_folder, tags, gapless};
  try {
    document.split_thread_handle = std::thread(split_thread, &document.split_job);
  } catch (const std::system_error&) {
    std::lock_guard lock(document.split_mutex);
    document.splitting = 0;
    return -1;
  }
  return 0;
}

int audio_document_is_splitting(AudioDocument& document) {
  std::lock_guard lock(document.split_mutex);
  return document.splitting;
}
