#include "breaks/printf_string.h"

#include <cstdarg>
#include <memory>

std::string printf_string(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::unique_ptr<gchar, decltype(&g_free)> text(g_strdup_vprintf(format, args), g_free);
  va_end(args);
  return text.get();
}
