#include "cli/break_rows.h"

#include <cstdio>

#include "breaks/time_code.h"
#include "breaks/track_break_list.h"

void print_break_row(std::int32_t index, std::int32_t write, std::uint64_t start,
                     std::uint64_t end, const std::string& name, void* /*user_data*/) {
  const std::string start_text = format_time_code(start, false);
  const char flag = write != 0 ? 'x' : '_';
  if (end == NO_END) {
    std::printf("%2d. [%c] %10s - %10s \"%s\"\n", index + 1, flag, start_text.c_str(), "(end)",
                name.c_str());
    return;
  }
  const std::string end_text = format_time_code(end, false);
  const std::string duration_text = format_time_code(end - start, false);
  std::printf("%2d. [%c] %10s - %10s \"%s\" (duration: %s)\n", index + 1, flag,
              start_text.c_str(), end_text.c_str(), name.c_str(), duration_text.c_str());
}
