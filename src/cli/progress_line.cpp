#include "cli/progress_line.h"

#include <sys/stat.h>

#include <cstdio>

namespace {

constexpr gint64 PROGRESS_INTERVAL_US = 33333;

}  // namespace

void progress_line_show(void* user_data, double fraction) {
  auto* last = static_cast<gint64*>(user_data);
  const gint64 now = g_get_monotonic_time();
  if (now - *last < PROGRESS_INTERVAL_US) return;
  *last = now;
  std::fprintf(stderr, "\r\033[KAnalyzing... [%3.0f%%]", fraction * 100.0);
  std::fflush(stderr);
}

bool progress_line_path_taken(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}
