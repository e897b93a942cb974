#include "breaks/text_decoding.h"

#include <glib.h>

#include <algorithm>
#include <memory>

namespace {

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";
constexpr std::string_view UTF16LE_BOM = "\xFF\xFE";
constexpr std::string_view UTF16BE_BOM = "\xFE\xFF";
constexpr std::string_view REPLACEMENT = "\xEF\xBF\xBD";
// What saved a cue sheet that is not UTF-8, more often than any other charset.
constexpr const char* FALLBACK_CHARSET = "WINDOWS-1252";

struct GFreeDeleter {
  void operator()(gchar* text) const noexcept { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

enum class Conversion { Done, Replaced, UnknownCharset };

// The width of one code unit: a byte that cannot be decoded is skipped with the unit it
// belongs to, so that the rest of a UTF-16 text stays aligned.
std::size_t code_unit(std::string_view charset) {
  std::string name;
  for (char c : charset) {
    if (c != '-' && c != '_') name += g_ascii_toupper(c);
  }
  if (name.starts_with("UTF16") || name.starts_with("UCS2")) return 2;
  if (name.starts_with("UTF32") || name.starts_with("UCS4")) return 4;
  return 1;
}

// Appends bytes converted from charset; every sequence that does not decode becomes U+FFFD.
// iconv stops at the first one, and the conversion goes on behind it.
Conversion convert(std::string_view bytes, const std::string& charset, std::string& out) {
  const std::size_t unit = code_unit(charset);
  Conversion result = Conversion::Done;
  while (!bytes.empty()) {
    gsize read = 0;
    gsize written = 0;
    GError* error = nullptr;
    GText converted(g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8",
                              charset.c_str(), &read, &written, &error));
    if (converted) {
      out.append(converted.get(), written);
      // A character cut off by the end of the file.
      if (read == bytes.size()) return result;
      out += REPLACEMENT;
      return Conversion::Replaced;
    }
    const bool bad_input = error->domain == G_CONVERT_ERROR &&
                           (error->code == G_CONVERT_ERROR_ILLEGAL_SEQUENCE ||
                            error->code == G_CONVERT_ERROR_PARTIAL_INPUT);
    g_error_free(error);
    if (!bad_input) return Conversion::UnknownCharset;
    read = std::min<gsize>(read, bytes.size());
    // The part before the bad sequence converts on its own.
    if (read > 0 && convert(bytes.substr(0, read), charset, out) == Conversion::UnknownCharset) {
      return Conversion::UnknownCharset;
    }
    out += REPLACEMENT;
    result = Conversion::Replaced;
    bytes.remove_prefix(std::min(bytes.size(), read + unit));
  }
  return result;
}

bool is_utf8(std::string_view bytes) {
  // GLib counts a NUL byte as invalid, which sends UTF-16 without a mark to the charset.
  return g_utf8_validate_len(bytes.data(), bytes.size(), nullptr) != FALSE;
}

std::string decode_in(std::string_view bytes, const std::string& charset, std::string_view path) {
  std::string text;
  switch (convert(bytes, charset, text)) {
    case Conversion::Done:
      return text;
    case Conversion::Replaced:
      g_warning("%.*s: bytes that are not %s replaced by U+FFFD", static_cast<int>(path.size()),
                path.data(), charset.c_str());
      return text;
    case Conversion::UnknownCharset:
      break;
  }
  g_warning("%.*s: cannot convert from %s", static_cast<int>(path.size()), path.data(),
            charset.c_str());
  return text_make_valid_utf8(bytes);
}

}  // namespace

std::string text_decode_to_utf8(std::string_view bytes, std::string_view charset,
                                std::string_view path) {
  if (bytes.starts_with(UTF8_BOM)) return text_make_valid_utf8(bytes.substr(UTF8_BOM.size()));
  if (bytes.starts_with(UTF16LE_BOM)) return decode_in(bytes.substr(2), "UTF-16LE", path);
  if (bytes.starts_with(UTF16BE_BOM)) return decode_in(bytes.substr(2), "UTF-16BE", path);
  if (is_utf8(bytes)) return std::string(bytes);
  if (!charset.empty()) return decode_in(bytes, std::string(charset), path);
  g_warning("%.*s is not UTF-8; read as Windows-1252 (%s=CHARSET names its charset)",
            static_cast<int>(path.size()), path.data(), CHARSET_OPTION);
  return decode_in(bytes, FALLBACK_CHARSET, path);
}

bool text_charset_is_known(std::string_view charset) {
  // iconv reads an empty name as the locale's charset.
  if (charset.empty()) return false;
  const std::string name(charset);
  GIConv converter = g_iconv_open("UTF-8", name.c_str());
  if (converter == reinterpret_cast<GIConv>(-1)) return false;
  g_iconv_close(converter);
  return true;
}

std::string text_make_valid_utf8(std::string_view text) {
  // NUL bytes count as invalid too: no text handed on is cut short by one.
  const GText valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
  return valid.get();
}
