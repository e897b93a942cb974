#include "breaks/name_format.h"

#include <glib.h>

#include <algorithm>
#include <cctype>

#include "breaks/metadata.h"
#include "breaks/printf_string.h"
#include "breaks/text_decoding.h"

namespace {

constexpr std::string_view CONVERSIONS = "ntpay%";

// A value stays inside one folder level: its slashes become dashes.
std::string folder_safe(std::string_view value) {
  std::string text(value);
  std::replace(text.begin(), text.end(), '/', '-');
  return text;
}

std::string conversion(char which, const NameFields& fields) {
  switch (which) {
    case 'n': return printf_string("%02d", fields.number);
    case 't': return folder_safe(fields.title);
    case 'p': return folder_safe(fields.performer);
    case 'a': return folder_safe(fields.album);
    case 'y': return folder_safe(fields.year);
    default: return std::string(1, which);
  }
}

// The path inside the output folder: only components that name something below it.
std::string inside_folder(std::string_view path) {
  std::string result;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    if (!component.empty() && component != "." && component != "..") {
      if (!result.empty()) result += '/';
      result += component;
    }
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return result;
}

}  // namespace

std::optional<std::string> name_format_check(std::string_view format) {
  if (g_utf8_validate_len(format.data(), format.size(), nullptr) == FALSE) {
    return std::string("not valid UTF-8");
  }
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (i + 1 == format.size()) return std::string("a '%' at its end");
    if (CONVERSIONS.find(format[i + 1]) == std::string_view::npos) {
      // The whole character, not its first byte: the reason must stay readable text.
      const char* const after = g_utf8_next_char(format.data() + i + 1);
      const int length = static_cast<int>(after - (format.data() + i + 1));
      return printf_string("unknown conversion '%%%.*s' (known: %%n %%t %%p %%a %%y %%%%)",
                           length, format.data() + i + 1);
    }
    ++i;
  }
  return std::nullopt;
}

std::string name_format_expand(std::string_view format, const NameFields& fields) {
  std::string name;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      name += conversion(format[++i], fields);
    } else {
      name += format[i];
    }
  }
  // A plain name may hold bytes of a file name that is not UTF-8.
  return inside_folder(metadata_drop_controls(text_make_valid_utf8(name)));
}

std::string_view name_format_year(std::string_view date) {
  const bool four_digits =
      date.size() >= 4 && std::all_of(date.begin(), date.begin() + 4, [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      });
  return four_digits ? date.substr(0, 4) : date;
}
