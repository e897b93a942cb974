#include "io/temporary_output.h"

#include <fcntl.h>
#include <glib.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

namespace {

// The temporary files that SIGINT or SIGTERM must remove before the process ends: one a
// track being written, and tracks may be written side by side. A path the system accepts is
// shorter than PATH_MAX, so fixed buffers hold every one that can exist; the handler cannot
// allocate. Changed only under pending_lock with the two signals blocked in the changing
// thread, so the handler never waits for its own thread.
constexpr std::size_t PENDING_SLOTS = 8;
char pending_paths[PENDING_SLOTS][PATH_MAX];
std::atomic<bool> pending_lock{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

class CleanupSignalsBlocked {
 public:
  CleanupSignalsBlocked() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, &saved_);
  }
  ~CleanupSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
  CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;

 private:
  sigset_t saved_{};
};

template <typename Change>
void change_pending(Change change) {
  CleanupSignalsBlocked blocked;
  while (pending_lock.exchange(true, std::memory_order_acquire)) {
  }
  change();
  pending_lock.store(false, std::memory_order_release);
}

// A file beyond the slots is simply not cleaned up on a signal.
void remember_pending(const std::string& path) {
  if (path.size() >= PATH_MAX) return;
  change_pending([&] {
    for (char* slot : pending_paths) {
      if (slot[0] != '\0') continue;
      std::memcpy(slot, path.c_str(), path.size() + 1);
      return;
    }
  });
}

void forget_pending(const std::string& path) {
  change_pending([&] {
    for (char* slot : pending_paths) {
      if (path == slot) slot[0] = '\0';
    }
  });
}

extern "C" void remove_pending_and_end(int signal_number) {
  // Never released: the process ends as soon as this handler returns.
  while (pending_lock.exchange(true, std::memory_order_acquire)) {
  }
  for (const char* slot : pending_paths) {
    if (slot[0] != '\0') unlink(slot);
  }
  // SA_RESETHAND has restored the default action; the signal stays blocked until we return
  // and then ends the process the way it would have without us.
  raise(signal_number);
}

// Only where the signal still has its default action: a front end that handles or ignores
// it keeps its own way.
void install_cleanup_handlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const int signal_number : {SIGINT, SIGTERM}) {
      struct sigaction current {};
      if (sigaction(signal_number, nullptr, &current) != 0) continue;
      if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_handler = remove_pending_and_end;
      // The other signal must wait: its handler would spin for ever on the lock this one holds.
      sigemptyset(&action.sa_mask);
      sigaddset(&action.sa_mask, SIGINT);
      sigaddset(&action.sa_mask, SIGTERM);
      action.sa_flags = SA_RESETHAND;
      sigaction(signal_number, &action, nullptr);
    }
  });
}

// Creates the file named by pattern (ending in XXXXXX, replaced in place); the descriptor
// or -1 with errno set.
int create_exclusive(std::string& pattern) {
  return g_mkstemp_full(pattern.data(), O_RDWR | O_CLOEXEC, 0666);
}

}  // namespace

std::optional<TemporaryOutput> TemporaryOutput::create(const std::string& final_path) {
  install_cleanup_handlers();
  const std::size_t slash = final_path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : final_path.substr(0, slash + 1);
  const std::string name = final_path.substr(folder.size());

  std::string temporary = folder + "." + name + ".tfold-XXXXXX";
  int fd = -1;
  {
    // The file must be known to the handler from the moment it exists.
    CleanupSignalsBlocked blocked;
    fd = create_exclusive(temporary);
    if (fd < 0 && errno == ENAMETOOLONG) {
      temporary = folder + ".tfold-XXXXXX";
      fd = create_exclusive(temporary);
    }
    if (fd >= 0) remember_pending(temporary);
  }
  if (fd < 0) {
    const int error = errno;
    g_warning("Error opening %s for writing: %s", final_path.c_str(), g_strerror(error));
    errno = error;
    return std::nullopt;
  }
  // A replaced file keeps its permissions.
  struct stat existing {};
  if (stat(final_path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    fchmod(fd, existing.st_mode & 07777);
  }
  FilePtr file(fdopen(fd, "wb"));
  if (!file) {
    const int error = errno;
    close(fd);
    unlink(temporary.c_str());
    forget_pending(temporary);
    g_warning("Error opening %s for writing: %s", final_path.c_str(), g_strerror(error));
    errno = error;
    return std::nullopt;
  }
  return TemporaryOutput(final_path, std::move(temporary), std::move(file));
}

TemporaryOutput::TemporaryOutput(std::string final_path, std::string temporary_path, FilePtr file)
    : final_path_(std::move(final_path)), temporary_path_(std::move(temporary_path)),
      file_(std::move(file)) {}

TemporaryOutput::TemporaryOutput(TemporaryOutput&& other) noexcept
    : final_path_(std::move(other.final_path_)),
      temporary_path_(std::exchange(other.temporary_path_, std::string())),
      file_(std::move(other.file_)) {}

TemporaryOutput::~TemporaryOutput() { discard(); }

namespace {

int replace_path(const char* from, const char* to) { return std::rename(from, to); }

// Never replaces: where the file system cannot rename without replacing, a hard link
// refuses an existing name just as well.
int move_to_new_path(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (link(from, to) != 0) return -1;
  unlink(from);
  return 0;
}

bool path_exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Flushes and closes the file, first forcing it onto the disk when sync is set. 0, or the
// errno of the first step that failed.
int close_file(FilePtr file, bool sync) {
  int error = 0;
  if (std::fflush(file.get()) != 0 || (sync && fsync(fileno(file.get())) != 0)) error = errno;
  if (std::fclose(file.release()) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace

// Only a replacement is forced onto the disk: after a power cut between the rename and the
// kernel's own writeback, the user would otherwise find an empty file where the old one was,
// while a new file that is lost leaves nothing worse than a missing track.
bool TemporaryOutput::commit() { return finish(replace_path, path_exists(final_path_)); }

bool TemporaryOutput::commit_new() { return finish(move_to_new_path, false); }

bool TemporaryOutput::finish(int (*move)(const char* from, const char* to), bool sync) {
  if (temporary_path_.empty()) return false;
  int error = close_file(std::move(file_), sync);
  if (error != 0) {
    g_warning("Error writing to file %s: %s", final_path_.c_str(), g_strerror(error));
  } else if (move(temporary_path_.c_str(), final_path_.c_str()) != 0) {
    error = errno;
    g_warning("Could not move the finished file to %s: %s", final_path_.c_str(), g_strerror(error));
  }
  if (error != 0) {
    discard();
    errno = error;
    return false;
  }
  forget_pending(temporary_path_);
  temporary_path_.clear();
  return true;
}

void TemporaryOutput::discard() {
  file_.reset();
  if (temporary_path_.empty()) return;
  unlink(temporary_path_.c_str());
  forget_pending(temporary_path_);
  temporary_path_.clear();
}
