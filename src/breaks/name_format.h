// Output names made from a template and a track's metadata.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// What a template's conversions stand for, for one track.
struct NameFields {
  int number = 0;               // %n: 1-based number in the list, at least two digits
  std::string_view title;       // %t
  std::string_view performer;   // %p
  std::string_view album;       // %a
  std::string_view year;        // %y
};

// The reason format is no usable template (an unknown conversion, a '%' at its end, bytes
// that are not UTF-8), or nullopt when it is one.
std::optional<std::string> name_format_check(std::string_view format);

// format with its conversions replaced ("%%" by '%'). A '/' inside a value becomes '-';
// control characters are dropped. A '/' of the template itself separates folders, but the
// name never leaves the output folder: empty, "." and ".." components are dropped, so it is
// never absolute and never climbs. "" when nothing is left. format must pass the check.
std::string name_format_expand(std::string_view format, const NameFields& fields);

// The year of a date as cue sheets write it ("1999", "1999-05-01"): its first four
// characters when they are digits, else the whole date.
std::string_view name_format_year(std::string_view date);
