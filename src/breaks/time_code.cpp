#include "breaks/time_code.h"

#include <cstdio>

#include "breaks/printf_string.h"

std::string format_time_code(std::uint64_t blocks, bool cue_style) {
  const auto minutes = static_cast<std::int32_t>(blocks / 4500);
  const auto seconds = static_cast<int>((blocks % 4500) / 75);
  const auto frames = static_cast<int>(blocks % 75);
  return printf_string(cue_style ? "%d:%02d:%02d" : "%d:%02d.%02d", minutes, seconds, frames);
}

std::int32_t parse_time_code(const char* text) {
  int minutes = 0;
  int seconds = 0;
  int frames = 0;
  if (std::sscanf(text, "%d:%d:%d", &minutes, &seconds, &frames) != 3) return 0;
  // Out-of-range fields are taken as written; the sum wraps like 32-bit arithmetic.
  const std::uint32_t blocks = static_cast<std::uint32_t>(minutes) * 4500u +
                               static_cast<std::uint32_t>(seconds) * 75u +
                               static_cast<std::uint32_t>(frames);
  return static_cast<std::int32_t>(blocks);
}
