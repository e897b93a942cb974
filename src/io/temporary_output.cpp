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

// The signals that end the process while a file may be under way: interrupted or killed,
// the terminal closed, the reader of our output gone. Each removes the temporary files first.
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// The temporary files that a cleanup signal must remove before the process ends: one a
// track being written, and tracks may be written side by side. A path the system accepts is
// shorter than PATH_MAX, so fixed buffers hold every one that can exist; the handler cannot
// allocate. Changed only under pending_lock with the signals blocked in the changing
// thread, so the handler never waits for its own thread.
struct PendingFile {
  int folder_fd = -1;  // the path is relative to it
  char path[PATH_MAX];
};
constexpr std::size_t PENDING_SLOTS = 8;
PendingFile pending_files[PENDING_SLOTS];
std::atomic<bool> pending_lock{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

class CleanupSignalsBlocked {
 public:
  CleanupSignalsBlocked() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal_number : CLEANUP_SIGNALS) sigaddset(&signals, signal_number);
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
void remember_pending(int folder_fd, const std::string& path) {
  if (path.size() >= PATH_MAX) return;
  change_pending([&] {
    for (PendingFile& slot : pending_files) {
      if (slot.path[0] != '\0') continue;
      slot.folder_fd = folder_fd;
      std::memcpy(slot.path, path.c_str(), path.size() + 1);
      return;
    }
  });
}

void forget_pending(int folder_fd, const std::string& path) {
  change_pending([&] {
    for (PendingFile& slot : pending_files) {
      if (slot.folder_fd == folder_fd && path == slot.path) slot.path[0] = '\0';
    }
  });
}

extern "C" void remove_pending_and_end(int signal_number) {
  // Never released: the process ends as soon as this handler returns.
  while (pending_lock.exchange(true, std::memory_order_acquire)) {
  }
  for (const PendingFile& slot : pending_files) {
    if (slot.path[0] != '\0') unlinkat(slot.folder_fd, slot.path, 0);
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
    // A file size limit is a full disk to us: the write fails with EFBIG and is reported,
    // instead of a kill that leaves the partial file behind unexplained.
    struct sigaction file_size {};
    if (sigaction(SIGXFSZ, nullptr, &file_size) == 0 && (file_size.sa_flags & SA_SIGINFO) == 0 &&
        file_size.sa_handler == SIG_DFL) {
      signal(SIGXFSZ, SIG_IGN);
    }
    for (const int signal_number : CLEANUP_SIGNALS) {
      struct sigaction current {};
      if (sigaction(signal_number, nullptr, &current) != 0) continue;
      if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_handler = remove_pending_and_end;
      // The other signals must wait: their handler would spin for ever on the lock this one holds.
      sigemptyset(&action.sa_mask);
      for (const int other : CLEANUP_SIGNALS) sigaddset(&action.sa_mask, other);
      action.sa_flags = SA_RESETHAND;
      sigaction(signal_number, &action, nullptr);
    }
  });
}

// Creates the file named by pattern in folder (pattern ends in XXXXXX, replaced in place by
// letters no one can guess); the descriptor, or -1 with errno set. Never opens a file or
// link that someone else put there.
int create_exclusive(const Folder& folder, std::string& pattern) {
  static constexpr char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const std::size_t tail = pattern.size() - 6;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (std::size_t k = tail; k < pattern.size(); ++k) {
      pattern[k] = LETTERS[g_random_int_range(0, sizeof LETTERS - 1)];
    }
    const int fd = openat(folder.fd(), pattern.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The temporary file for name in folder, created and known to the signal handler; its
// descriptor, or -1 with errno set.
int create_temporary(const Folder& folder, const std::string& name, std::string& temporary) {
  const std::size_t slash = name.rfind('/');
  const std::string prefix = slash == std::string::npos ? "" : name.substr(0, slash + 1);
  temporary = prefix + "." + name.substr(prefix.size()) + ".tfold-XXXXXX";
  // The file must be known to the handler from the moment it exists.
  CleanupSignalsBlocked blocked;
  int fd = create_exclusive(folder, temporary);
  if (fd < 0 && errno == ENAMETOOLONG) {
    temporary = prefix + ".tfold-XXXXXX";
    fd = create_exclusive(folder, temporary);
  }
  if (fd >= 0) remember_pending(folder.fd(), temporary);
  return fd;
}

std::optional<TemporaryOutput> refuse(const std::string& final_path, int error) {
  g_warning("Error opening %s for writing: %s", final_path.c_str(), g_strerror(error));
  errno = error;
  return std::nullopt;
}

}  // namespace

std::optional<TemporaryOutput> TemporaryOutput::create(const std::string& final_path) {
  return create_in(Folder::working(), final_path, final_path);
}

std::optional<TemporaryOutput> TemporaryOutput::create_in(const Folder& in, const std::string& name,
                                                          const std::string& final_path) {
  install_cleanup_handlers();
  // Made through the folder's descriptor, a file could outgrow what any path can name; no
  // one could then open it by its name, so it is refused as the system refuses such a path.
  if (final_path.size() >= PATH_MAX) return refuse(final_path, ENAMETOOLONG);
  std::optional<Folder> folder = in.duplicate();
  if (!folder) return refuse(final_path, errno);
  std::string temporary;
  const int fd = create_temporary(*folder, name, temporary);
  if (fd < 0) return refuse(final_path, errno);
  // A replaced file keeps its permissions.
  struct stat existing {};
  if (fstatat(folder->fd(), name.c_str(), &existing, 0) == 0 && S_ISREG(existing.st_mode)) {
    fchmod(fd, existing.st_mode & 07777);
  }
  FilePtr file(fdopen(fd, "wb"));
  if (!file) {
    const int error = errno;
    close(fd);
    unlinkat(folder->fd(), temporary.c_str(), 0);
    forget_pending(folder->fd(), temporary);
    return refuse(final_path, error);
  }
  return TemporaryOutput(std::move(*folder), name, final_path, std::move(temporary), std::move(file));
}

TemporaryOutput::TemporaryOutput(Folder folder, std::string name, std::string final_path,
                                 std::string temporary_path, FilePtr file)
    : folder_(std::move(folder)), name_(std::move(name)), final_path_(std::move(final_path)),
      temporary_path_(std::move(temporary_path)), file_(std::move(file)) {}

TemporaryOutput::TemporaryOutput(TemporaryOutput&& other) noexcept
    : folder_(std::move(other.folder_)),
      name_(std::move(other.name_)),
      final_path_(std::move(other.final_path_)),
      temporary_path_(std::exchange(other.temporary_path_, std::string())),
      file_(std::move(other.file_)) {}

TemporaryOutput::~TemporaryOutput() { discard(); }

std::string TemporaryOutput::reading_path() const {
  if (folder_.fd() == AT_FDCWD) return temporary_path_;
  return "/proc/self/fd/" + std::to_string(folder_.fd()) + "/" + temporary_path_;
}

namespace {

int replace_name(const Folder& folder, const char* from, const char* to) {
  return renameat(folder.fd(), from, folder.fd(), to);
}

// Never replaces: where the file system cannot rename without replacing, a hard link
// refuses an existing name just as well.
int move_to_new_name(const Folder& folder, const char* from, const char* to) {
  if (renameat2(folder.fd(), from, folder.fd(), to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (linkat(folder.fd(), from, folder.fd(), to, 0) != 0) return -1;
  unlinkat(folder.fd(), from, 0);
  return 0;
}

bool name_exists(const Folder& folder, const std::string& name) {
  struct stat st {};
  return fstatat(folder.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
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
bool TemporaryOutput::commit() { return finish(replace_name, name_exists(folder_, name_)); }

bool TemporaryOutput::commit_new() { return finish(move_to_new_name, false); }

bool TemporaryOutput::finish(int (*move)(const Folder& folder, const char* from, const char* to),
                             bool sync) {
  if (temporary_path_.empty()) return false;
  int error = close_file(std::move(file_), sync);
  if (error != 0) {
    g_warning("Error writing to file %s: %s", final_path_.c_str(), g_strerror(error));
  } else if (move(folder_, temporary_path_.c_str(), name_.c_str()) != 0) {
    error = errno;
    g_warning("Could not move the finished file to %s: %s", final_path_.c_str(), g_strerror(error));
  }
  if (error != 0) {
    discard();
    errno = error;
    return false;
  }
  forget_pending(folder_.fd(), temporary_path_);
  temporary_path_.clear();
  return true;
}

void TemporaryOutput::discard() {
  file_.reset();
  if (temporary_path_.empty()) return;
  unlinkat(folder_.fd(), temporary_path_.c_str(), 0);
  forget_pending(folder_.fd(), temporary_path_);
  temporary_path_.clear();
}
