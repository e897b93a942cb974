#include "breaks/metadata.h"

#include <glib.h>

#include "breaks/text_decoding.h"

std::string metadata_drop_controls(std::string_view text) {
  std::string result;
  const char* const end = text.data() + text.size();
  for (const char* at = text.data(); at < end;) {
    const char* next = g_utf8_find_next_char(at, end);
    if (next == nullptr) next = end;
    if (!g_unichar_iscntrl(g_utf8_get_char(at))) result.append(at, next);
    at = next;
  }
  return result;
}

std::string metadata_clean_text(std::string_view raw) {
  std::string text = metadata_drop_controls(text_make_valid_utf8(raw));
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}
