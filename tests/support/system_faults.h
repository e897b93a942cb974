// Faults injected at the system calls under the program's file I/O, for test programs linked
// with -Wl,--wrap for pread, splice, fsync and syscall (tests/CMakeLists.txt names them).
// Without an armed fault every call goes to the system.
#pragma once

#include <cstdint>

namespace tfold_test {

// Reads of fd fail with EIO from byte fail_at on; a read that reaches fail_at first delivers
// the bytes before it. The kernel copy from fd fails as well, so a copy has to read.
void fail_reads_from(int fd, std::uint64_t fail_at);
// The same for the bytes [from, to) alone: reads from `to` on succeed again.
void fail_reads_between(int fd, std::uint64_t from, std::uint64_t to);
// fsync fails with the given errno (0: it goes to the system).
void fail_fsync(int error);
// How many times fsync was called since the last clear_faults.
int fsync_calls();
// openat2 answers ENOSYS, as on kernels before 5.6.
void hide_openat2(bool hidden);
void clear_faults();

}  // namespace tfold_test
