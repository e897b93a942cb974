#include "breaks/time_code.h"

#include <algorithm>
#include <cctype>
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

bool time_code_is_digits(std::string_view word) {
  return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

bool time_code_is_well_formed(std::string_view word) {
  const std::size_t first = word.find(':');
  if (first == std::string_view::npos) return false;
  const std::size_t second = word.find(':', first + 1);
  if (second == std::string_view::npos) return false;
  return time_code_is_digits(word.substr(0, first)) &&
         time_code_is_digits(word.substr(first + 1, second - first - 1)) &&
         time_code_is_digits(word.substr(second + 1));
}
