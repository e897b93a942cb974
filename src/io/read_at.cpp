#include "io/read_at.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

std::int64_t read_at(int fd, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t got = pread(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
    // A signal that lands before the first byte interrupts the read; it is no error.
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return done > 0 ? static_cast<std::int64_t>(done) : -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}
