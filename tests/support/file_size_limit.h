// Makes writes past a size fail the way a full disk does, for the child processes that the
// harness starts while the guard lives: RLIMIT_FSIZE and SIGXFSZ ignored are both inherited
// through fork and exec, so the write call returns short (or EFBIG) instead of killing.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <stdexcept>

namespace tfold_test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::uint64_t bytes) {
    if (getrlimit(RLIMIT_FSIZE, &saved_limit_) != 0) throw std::runtime_error("getrlimit");
    saved_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_limit_;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("setrlimit");
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_limit_);
    signal(SIGXFSZ, saved_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_limit_{};
  sighandler_t saved_handler_ = SIG_DFL;
};

}  // namespace tfold_test
