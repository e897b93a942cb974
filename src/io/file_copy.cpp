#include "io/file_copy.h"

#include <glib.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <vector>

#include "io/kernel_copy.h"
#include "io/read_at.h"

namespace {

// Kernel copies go in pieces small enough for a progress figure that moves.
constexpr std::uint64_t KERNEL_COPY_PIECE = std::uint64_t{16} << 20;
// Large pieces keep the copy through memory close to the speed of the disk, whatever the
// size of the blocks positions are counted in.
constexpr std::size_t BUFFER_PIECE = std::size_t{1} << 20;

class Copy {
 public:
  Copy(int source_fd, std::uint64_t offset, int out_fd, off_t out_pos, const CopyProgress& progress)
      : source_fd_(source_fd), in_pos_(static_cast<off_t>(offset)), out_fd_(out_fd), out_pos_(out_pos),
        progress_(progress) {}

  // Lets the kernel move the bytes, sparing two copies through user space. Stops at the end
  // of the source or wherever the kernel declines; the copy through memory then carries on
  // and meets any real error itself.
  void in_kernel(std::uint64_t length) {
    while (result_.copied < length) {
      const std::uint64_t wanted = std::min(KERNEL_COPY_PIECE, length - result_.copied);
      const std::uint64_t moved =
          copy_in_kernel(source_fd_, static_cast<std::uint64_t>(in_pos_), out_fd_, &out_pos_, wanted);
      in_pos_ += static_cast<off_t>(moved);
      if (moved > 0) advance(moved);
      if (moved < wanted) return;
    }
  }

  void through_memory(std::uint64_t length) {
    std::vector<std::uint8_t> buffer;
    while (result_.copied < length) {
      const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(BUFFER_PIECE, length - result_.copied));
      buffer.resize(std::max(buffer.size(), wanted));
      const std::int64_t got = read_at(source_fd_, std::span(buffer.data(), wanted), static_cast<std::uint64_t>(in_pos_));
      if (got < 0) {
        result_.read_error = errno;
        result_.read_error_at = static_cast<std::uint64_t>(in_pos_);
        return;
      }
      if (got == 0) return;
      const std::size_t put = write_all(buffer.data(), static_cast<std::size_t>(got));
      in_pos_ += static_cast<off_t>(put);
      advance(put);
      if (result_.write_error != 0) return;
    }
  }

  off_t out_pos() const { return out_pos_; }
  CopyResult& result() { return result_; }

 private:
  // Writes the bytes at the output position and returns how many it wrote: fewer only with
  // write_error set.
  std::size_t write_all(const std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
      const ssize_t put = pwrite(out_fd_, bytes + done, count - done, out_pos_);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        // A write that takes nothing without an error has no room left.
        result_.write_error = put < 0 ? errno : ENOSPC;
        break;
      }
      done += static_cast<std::size_t>(put);
      out_pos_ += put;
    }
    return done;
  }

  void advance(std::uint64_t bytes) {
    result_.copied += bytes;
    if (progress_.report == nullptr || progress_.total == 0) return;
    progress_.report(progress_.user_data, static_cast<double>(progress_.done_before + result_.copied) /
                                              static_cast<double>(progress_.total));
  }

  int source_fd_;
  off_t in_pos_;
  int out_fd_;
  off_t out_pos_;
  const CopyProgress& progress_;
  CopyResult result_;
};

}  // namespace

CopyResult copy_bytes(int source_fd, std::uint64_t offset, std::uint64_t length,
                             std::FILE* out, const CopyProgress& progress) {
  CopyResult result;
  // The copy writes to the descriptor: nothing may wait in the stream's buffer before it.
  const off_t out_pos = std::fflush(out) == 0 ? ftello(out) : -1;
  if (out_pos < 0) {
    result.write_error = errno;
    return result;
  }
  // Space set aside beforehand spares the file system an allocation per page; a copy that
  // ends early gives back what it did not fill.
  reserve_space(fileno(out), static_cast<std::uint64_t>(out_pos), length);
  Copy copy(source_fd, offset, fileno(out), out_pos, progress);
  copy.in_kernel(length);
  copy.through_memory(length);
  result = copy.result();
  if (result.copied < length) release_reserved_space(fileno(out));
  // The stream goes on behind the copied bytes.
  if (fseeko(out, copy.out_pos(), SEEK_SET) != 0 && result.write_error == 0) result.write_error = errno;
  return result;
}

bool copy_succeeded(const CopyResult& result, std::string_view source_path,
                           std::string_view out_path) {
  if (result.read_error != 0) {
    g_warning("Error reading %.*s: %s at byte %" PRIu64 "; %.*s is not written", static_cast<int>(source_path.size()),
              source_path.data(), g_strerror(result.read_error), result.read_error_at,
              static_cast<int>(out_path.size()), out_path.data());
    return false;
  }
  if (result.write_error != 0) {
    g_warning("Error writing to file %.*s: %s", static_cast<int>(out_path.size()), out_path.data(),
              g_strerror(result.write_error));
    return false;
  }
  return true;
}
