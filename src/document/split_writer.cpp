#include "document/split_writer.h"

#include <fcntl.h>
#include <glib.h>
#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "breaks/metadata.h"
#include "breaks/naming.h"
#include "document/audio_document.h"
#include "document/track_verifier.h"
#include "formats/registry.h"
#include "io/folder.h"
#include "io/temporary_output.h"

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

int selected_count(const TrackBreakList& list) {
  return static_cast<int>(std::count_if(list.breaks.begin(), list.breaks.end(),
                                        [](const TrackBreak& brk) { return brk.write != 0; }));
}

// The progress and results of the tracks under way, guarded by one lock.
struct TrackBoard {
  std::mutex mutex;
  std::condition_variable changed;
};

// What write_range is asked for one track.
struct TrackWrite {
  std::string path;  // the final path
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  int track_number = 0;
  std::optional<TrackTags> tags;
  bool gapless = false;
  bool frame_copy = false;
};

// Writes the track of request into output, and with a verifier reads it back: 0, or -1 when
// either failed.
int write_checked(AudioFile& file, const TrackRequest& request, const TemporaryOutput& output,
                  TrackVerifier* verifier) {
  if (format_write_range(file, request) == -1) return -1;
  return verifier == nullptr || verifier->check(output, request) ? 0 : -1;
}

// One track written on a thread of its own into its temporary output, which reaches the
// final name only once the track is complete (and, with a verifier, read back). Throws
// std::system_error when no thread can be started; the temporary output is then removed.
class TrackThread {
 public:
  TrackThread(TrackBoard& board, AudioFile& file, TemporaryOutput output, TrackWrite write,
              TrackVerifier* verifier)
      : board_(board), output_(std::move(output)) {
    thread_ = std::thread([this, &file, verifier, write = std::move(write)] {
      TrackRequest request{output_->file(), write.path, write.start, write.end, write.track_number,
                           progress,        this};
      request.tags = write.tags ? &*write.tags : nullptr;
      request.gapless = write.gapless;
      request.frame_copy = write.frame_copy;
      const int result = write_checked(file, request, *output_, verifier);
      std::lock_guard lock(board_.mutex);
      result_ = result;
      done_ = true;
      board_.changed.notify_all();
    });
  }
  TrackThread(const TrackThread&) = delete;
  TrackThread& operator=(const TrackThread&) = delete;
  // An abandoned track runs to its end; its temporary output goes with it.
  ~TrackThread() { thread_.join(); }

  // Under the board's lock.
  double fraction() const { return fraction_; }
  bool done() const { return done_; }
  // Once done: moves the track to its final name. 0, or -1 when it failed.
  int commit() { return result_ != -1 && output_->commit() ? 0 : -1; }

 private:
  static void progress(void* self_ptr, double fraction) {
    auto& self = *static_cast<TrackThread*>(self_ptr);
    std::lock_guard lock(self.board_.mutex);
    self.fraction_ = fraction;
    self.board_.changed.notify_all();
  }

  TrackBoard& board_;
  std::optional<TemporaryOutput> output_;
  double fraction_ = 0.0;
  bool done_ = false;
  int result_ = 0;
  std::thread thread_;  // last: it uses everything above
};

struct PlannedTrack {
  bool selected = false;
  std::string name;
  const char* refused = nullptr;  // why the name leaves the output folder; never written then
  std::string path;
  // The track's folder, resolved beneath the output folder by the kernel, and the file's name
  // in it; no folder: folder_error tells why.
  std::optional<Folder> folder;
  int folder_error = 0;
  std::string file_name;
  TrackWrite write;
  bool empty = false;  // its break lies at the recording's end: there is nothing to write
  std::unique_ptr<TrackThread> thread;  // set once the track is under way
};

// The console follows one track at a time, in order. A module that writes one track at a
// time is written to on the walk's own thread; for one that can write several, later tracks
// whose files need no question are already being written behind the one shown.
class TrackWalk {
 public:
  TrackWalk(SplitJob& job, unsigned threads) : job_(job), threads_(threads) {
    if (job.verify) verifier_.emplace(*job.document->audio_file);
    plan();
  }

  void run() {
    const SplitCallbacks& callbacks = job_.callbacks;
    const int count = selected_count(*job_.break_list);
    const FormatModule& module = *job_.document->audio_file->module;
    if (job_.tags && !module.carries_tags) {
      g_warning("%s files carry no tags: the tracks are written without them", module.name);
    }
    int index = 1;
    int standing = OVERWRITE_ASK;
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
      if (callbacks.is_cancelled(callbacks.user_data) != 0) return;
      PlannedTrack& track = tracks_[i];
      if (!track.selected) continue;
      callbacks.file_started(index, count, track.path, callbacks.user_data);
      callbacks.progress(callbacks.user_data, 0.0);
      int answer = standing;
      if (track.empty) {
        g_warning("Skipping %s: its break lies at the end of the recording, so the track would be empty",
                  track.path.c_str());
      } else if (refuse(track)) {
        callbacks.write_error(track.path, callbacks.user_data);
      } else {
        bool write_it = true;
        answer = answer_for(callbacks, track.path, standing, write_it);
        if (write_it && write(i) == -1) {
          g_warning("Could not write file %s", track.path.c_str());
          callbacks.write_error(track.path, callbacks.user_data);
        } else if (write_it && verifier_ && callbacks.track_verified != nullptr) {
          callbacks.track_verified(track.path, callbacks.user_data);
        }
      }
      // A track started ahead whose file has appeared since, and is to be kept, ends unused.
      track.thread.reset();
      callbacks.progress(callbacks.user_data, 1.0);
      standing = (answer == OVERWRITE_SKIP_ALL || answer == OVERWRITE_ALL) ? answer : OVERWRITE_ASK;
      ++index;
    }
  }

 private:
  void plan() {
    const TrackBreakList& list = *job_.break_list;
    const AudioFile& file = *job_.document->audio_file;
    TrackNamer namer(list);
    tracks_.resize(list.breaks.size());
    for (std::size_t i = 0; i < list.breaks.size(); ++i) {
      PlannedTrack& track = tracks_[i];
      track.selected = list.breaks[i].write != 0;
      if (!track.selected) continue;
      TrackWrite& write = track.write;
      write.start = format_block_offset(list.breaks[i].offset, file.si);
      write.end =
          i + 1 < list.breaks.size() ? format_block_offset(list.breaks[i + 1].offset, file.si) : 0;
      write.track_number = static_cast<int>(i + 1);
      track.empty = write.start >= file.si.numBytes;
      if (job_.tags) write.tags = track_break_list_tags(list, i);
      write.gapless = job_.gapless;
      write.frame_copy = job_.frame_copy;
      track.name = namer.name(i);
      track.refused = escape_reason(track.name);
      track.path = split_output_path(job_.output_folder, track.name, file.path, *file.module);
      write.path = track.path;
      if (track.refused == nullptr) resolve_folder(track);
    }
  }

  // Finds the track's folder beneath the output folder. The name's text was checked, but a
  // folder inside may be a link to anywhere: only the kernel can tell where the way leads.
  void resolve_folder(PlannedTrack& track) {
    if (!output_folder_) output_folder_ = Folder::open(job_.output_folder);
    if (!output_folder_) {
      track.folder_error = errno;
      return;
    }
    const std::string relative = track.path.substr(job_.output_folder.size() + 1);
    const std::size_t slash = relative.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : relative.substr(0, slash);
    track.file_name = relative.substr(slash == std::string::npos ? 0 : slash + 1);
    track.folder = output_folder_->beneath(folder);
    if (!track.folder) track.folder_error = errno;
  }

  // Whether the track's file is the recording being read: replacing it would destroy the
  // source, whatever path or link led there.
  bool is_source(const PlannedTrack& track) const {
    const AudioFile& file = *job_.document->audio_file;
    struct stat source {};
    const bool known = file.fp ? fstat(fileno(file.fp.get()), &source) == 0 : stat(file.path.c_str(), &source) == 0;
    if (!known) return false;
    for (const int flags : {0, AT_SYMLINK_NOFOLLOW}) {
      struct stat target {};
      if (fstatat(track.folder->fd(), track.file_name.c_str(), &target, flags) == 0 &&
          target.st_dev == source.st_dev && target.st_ino == source.st_ino) {
        return true;
      }
    }
    return false;
  }

  // true, after a warning saying why, when the track cannot be written at all.
  bool refuse(const PlannedTrack& track) const {
    if (track.refused != nullptr) {
      g_warning("Refusing track name '%s' from the break list: %s outside the output folder",
                track.name.c_str(), track.refused);
      return true;
    }
    if (!track.folder && (track.folder_error == EXDEV || track.folder_error == ELOOP)) {
      g_warning("Refusing track name '%s' from the break list: a symbolic link leads outside the output folder",
                track.name.c_str());
      return true;
    }
    if (!track.folder) {
      g_warning("Error opening %s for writing: %s", track.path.c_str(), g_strerror(track.folder_error));
      g_warning("Could not write file %s", track.path.c_str());
      return true;
    }
    if (is_source(track)) {
      g_warning("Refusing to write %s: it is the recording being split", track.path.c_str());
      return true;
    }
    return false;
  }

  std::optional<TemporaryOutput> create_output(const PlannedTrack& track) const {
    return TemporaryOutput::create_in(*track.folder, track.file_name, track.path);
  }

  bool start(PlannedTrack& track) {
    std::optional<TemporaryOutput> output = create_output(track);
    if (!output) return false;
    try {
      track.thread = std::make_unique<TrackThread>(board_, *job_.document->audio_file,
                                                   std::move(*output), track.write, verifier());
    } catch (const std::system_error& error) {
      g_warning("Could not start a thread to write %s: %s", track.path.c_str(), error.what());
      return false;
    }
    return true;
  }

  // Starts the tracks after `current` while threads are free, in order, up to the first that
  // may have to ask: its file exists, or an earlier track of the walk writes the same path.
  void start_ahead(std::size_t current) {
    if (threads_ <= 1) return;
    std::size_t busy = 0;
    for (const PlannedTrack& track : tracks_) busy += track.thread ? 1 : 0;
    for (std::size_t j = current + 1; j < tracks_.size() && busy < threads_; ++j) {
      PlannedTrack& track = tracks_[j];
      if (!track.selected || track.empty || track.refused != nullptr || !track.folder || track.thread) continue;
      if (g_file_test(track.path.c_str(), G_FILE_TEST_EXISTS) || path_taken(current, j)) return;
      if (!start(track)) return;
      ++busy;
    }
  }

  bool path_taken(std::size_t from, std::size_t before) const {
    for (std::size_t k = from; k < before; ++k) {
      if (tracks_[k].selected && tracks_[k].path == tracks_[before].path) return true;
    }
    return false;
  }

  // Writes track i here, one track at a time; the track reaches its final name only once it
  // is complete, so a failed write neither replaces the user's file nor leaves a partial one.
  int write_here(std::size_t i) {
    const TrackWrite& write = tracks_[i].write;
    std::optional<TemporaryOutput> output = create_output(tracks_[i]);
    if (!output) return -1;
    TrackRequest request{output->file(), write.path, write.start, write.end, write.track_number,
                         split_progress_relay, &job_.callbacks};
    request.tags = write.tags ? &*write.tags : nullptr;
    request.gapless = write.gapless;
    request.frame_copy = write.frame_copy;
    if (write_checked(*job_.document->audio_file, request, *output, verifier()) == -1) return -1;
    return output->commit() ? 0 : -1;
  }

  TrackVerifier* verifier() { return verifier_ ? &*verifier_ : nullptr; }

  // Writes track i, or waits for it when it was started ahead, showing its progress and
  // keeping the threads busy meanwhile. 0, or -1 when it failed.
  int write(std::size_t i) {
    if (threads_ <= 1) return write_here(i);
    if (!tracks_[i].thread && !start(tracks_[i])) return -1;
    TrackThread& thread = *tracks_[i].thread;
    double shown = 0.0;
    for (;;) {
      start_ahead(i);
      double fraction = 0.0;
      bool done = false;
      {
        std::unique_lock lock(board_.mutex);
        board_.changed.wait(lock, [&] { return thread.done() || thread.fraction() != shown; });
        fraction = thread.fraction();
        done = thread.done();
      }
      if (fraction != shown) job_.callbacks.progress(job_.callbacks.user_data, fraction);
      shown = fraction;
      if (done) return thread.commit();
    }
  }

  SplitJob& job_;
  unsigned threads_;
  std::optional<Folder> output_folder_;  // opened by the first track that needs it
  std::optional<TrackVerifier> verifier_;  // with --verify; before the tracks, whose threads use it
  TrackBoard board_;
  std::vector<PlannedTrack> tracks_;  // one per break; after the board, which they use
};

unsigned parallel_tracks(const FormatModule& module) {
  const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
  return std::min(module.concurrent_writes, processors);
}

}  // namespace

std::string split_output_path(const std::string& folder, const std::string& name,
                              const std::string& source_path, const FormatModule& module) {
  std::string path = folder + "/" + name;
  const std::string extension = source_extension(source_path, module);
  // Only the end of the name counts: an extension inside the folder's name or in the middle
  // of a title is no extension of the track.
  if (!path.ends_with(extension)) path += extension;
  return path;
}

void split_progress_relay(void* user_data, double fraction) {
  const auto* callbacks = static_cast<const SplitCallbacks*>(user_data);
  callbacks->progress(callbacks->user_data, fraction);
}

void split_thread(SplitJob* job) {
  pthread_setname_np(pthread_self(), "write data");
  TrackWalk(*job, parallel_tracks(*job->document->audio_file->module)).run();
  {
    std::lock_guard lock(job->document->split_mutex);
    job->document->splitting = 0;
  }
  job->callbacks.finished(job->callbacks.user_data);
}

int audio_document_start_split(AudioDocument& document, const TrackBreakList& list,
                               const SplitCallbacks& callbacks, const std::string& output_folder,
                               bool tags, bool gapless, bool frame_copy, bool verify) {
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
  document.split_job = SplitJob{&document, &list, callbacks, output_folder, tags, gapless, frame_copy, verify};
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
