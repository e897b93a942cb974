#include "io/kernel_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>

namespace {

// copy_file_range moves the bytes through a pipe of 64 KiB inside the kernel; a larger
// pipe of our own costs less per byte, the more so when source and output positions lie at
// different offsets within their pages, as they do for every track but the first.
constexpr int PIPE_BYTES = 1 << 20;

class Pipe {
 public:
  Pipe() {
    if (pipe2(fds_.data(), O_CLOEXEC) != 0) return;
    const int size = fcntl(fds_[1], F_SETPIPE_SZ, PIPE_BYTES);
    // Where the system allows less, the default pipe still works.
    capacity_ = size > 0 ? static_cast<std::size_t>(size) : 65536;
  }
  ~Pipe() {
    for (const int fd : fds_) {
      if (fd >= 0) close(fd);
    }
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  bool is_open() const { return fds_[0] >= 0; }
  int read_end() const { return fds_[0]; }
  int write_end() const { return fds_[1]; }
  std::size_t capacity() const { return capacity_; }

 private:
  std::array<int, 2> fds_ = {-1, -1};
  std::size_t capacity_ = 0;
};

// Empties the pipe into the output; false when the output takes no more.
bool drain(const Pipe& pipe, int out_fd, off_t* out_offset, std::size_t pending, std::uint64_t& written) {
  while (pending > 0) {
    const ssize_t put = splice(pipe.read_end(), nullptr, out_fd, out_offset, pending, SPLICE_F_MOVE);
    if (put <= 0) return false;
    pending -= static_cast<std::size_t>(put);
    written += static_cast<std::uint64_t>(put);
  }
  return true;
}

}  // namespace

std::uint64_t copy_in_kernel(int in_fd, std::uint64_t in_offset, int out_fd, off_t* out_offset,
                                    std::uint64_t length) {
  const Pipe pipe;
  if (!pipe.is_open()) return 0;
  auto in_pos = static_cast<off_t>(in_offset);
  std::uint64_t written = 0;
  while (written < length) {
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(pipe.capacity(), length - written));
    const ssize_t taken = splice(in_fd, &in_pos, pipe.write_end(), nullptr, wanted, SPLICE_F_MOVE);
    if (taken <= 0) break;
    // Bytes left in the pipe when the output fails go with the pipe: the caller's copy
    // starts again after the last byte written.
    if (!drain(pipe, out_fd, out_offset, static_cast<std::size_t>(taken), written)) break;
  }
  return written;
}

void reserve_space(int out_fd, std::uint64_t offset, std::uint64_t length) {
  if (length == 0) return;
  // Only a speed-up: a file system without it, or without the space, fails the copy itself.
  (void)fallocate(out_fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset), static_cast<off_t>(length));
}

void release_reserved_space(int out_fd) {
  struct stat st {};
  if (fstat(out_fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  // Cutting a file to its own size frees the blocks held beyond its end.
  (void)ftruncate(out_fd, st.st_size);
}
