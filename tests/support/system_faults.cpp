#include "support/system_faults.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>

namespace {

std::atomic<int> failing_fd{-1};
std::atomic<std::uint64_t> failing_from{0};
std::atomic<std::uint64_t> failing_to{UINT64_MAX};
std::atomic<int> fsync_error{0};
std::atomic<int> fsync_count{0};
std::atomic<bool> openat2_hidden{false};

}  // namespace

extern "C" {
ssize_t __real_pread(int fd, void* buffer, std::size_t count, off_t offset);
ssize_t __real_splice(int in_fd, loff_t* in_offset, int out_fd, loff_t* out_offset, std::size_t count,
                      unsigned int flags);
int __real_fsync(int fd);
long __real_syscall(long number, ...);

ssize_t __wrap_pread(int fd, void* buffer, std::size_t count, off_t offset) {
  if (fd == failing_fd.load()) {
    const std::uint64_t from = failing_from.load();
    const auto at = static_cast<std::uint64_t>(offset);
    if (at >= from && at < failing_to.load()) {
      errno = EIO;
      return -1;
    }
    if (at < from && at + count > from) count = static_cast<std::size_t>(from - at);
  }
  return __real_pread(fd, buffer, count, offset);
}

ssize_t __wrap_splice(int in_fd, loff_t* in_offset, int out_fd, loff_t* out_offset, std::size_t count,
                      unsigned int flags) {
  if (in_fd == failing_fd.load()) {
    errno = EIO;
    return -1;
  }
  return __real_splice(in_fd, in_offset, out_fd, out_offset, count, flags);
}

int __wrap_fsync(int fd) {
  fsync_count.fetch_add(1);
  if (const int error = fsync_error.load(); error != 0) {
    errno = error;
    return -1;
  }
  return __real_fsync(fd);
}

// No system call takes more than six arguments, all passed as words: forwarding six is exact.
long __wrap_syscall(long number, ...) {
  if (number == SYS_openat2 && openat2_hidden.load()) {
    errno = ENOSYS;
    return -1;
  }
  std::va_list arguments;
  va_start(arguments, number);
  long words[6];
  for (long& word : words) word = va_arg(arguments, long);
  va_end(arguments);
  return __real_syscall(number, words[0], words[1], words[2], words[3], words[4], words[5]);
}
}

namespace tfold_test {

void fail_reads_from(int fd, std::uint64_t fail_at) { fail_reads_between(fd, fail_at, UINT64_MAX); }

void fail_reads_between(int fd, std::uint64_t from, std::uint64_t to) {
  failing_from.store(from);
  failing_to.store(to);
  failing_fd.store(fd);
}

void fail_fsync(int error) { fsync_error.store(error); }

int fsync_calls() { return fsync_count.load(); }

void hide_openat2(bool hidden) { openat2_hidden.store(hidden); }

void clear_faults() {
  failing_fd.store(-1);
  fsync_error.store(0);
  fsync_count.store(0);
  openat2_hidden.store(false);
}

}  // namespace tfold_test
