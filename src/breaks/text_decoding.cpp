#include "breaks/text_decoding.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
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

// One converter to UTF-8, open for a whole text; invalid when the system knows no such charset.
class Converter {
 public:
  explicit Converter(const std::string& charset)
      : handle_(g_iconv_open("UTF-8", charset.c_str())) {}
  ~Converter() {
    if (valid()) g_iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool valid() const { return handle_ != reinterpret_cast<GIConv>(-1); }
  GIConv get() const { return handle_; }

 private:
  GIConv handle_;
};

// Appends bytes converted from charset; every sequence that does not decode becomes U+FFFD,
// and the conversion goes on behind it with the same converter, so a text full of bad bytes
// costs no more than a clean one.
Conversion convert(std::string_view bytes, const std::string& charset, std::string& out) {
  const Converter converter(charset);
  if (!converter.valid()) return Conversion::UnknownCharset;
  const std::size_t unit = code_unit(charset);
  Conversion result = Conversion::Done;
  gchar* in = const_cast<gchar*>(bytes.data());
  gsize in_left = bytes.size();
  char buffer[4096];
  while (in_left > 0) {
    gchar* at = buffer;
    gsize room = sizeof buffer;
    const bool stopped =
        g_iconv(converter.get(), &in, &in_left, &at, &room) == static_cast<gsize>(-1);
    const int error = stopped ? errno : 0;
    out.append(buffer, static_cast<std::size_t>(at - buffer));
    if (!stopped || error == E2BIG) continue;
    if (error == EINVAL) {
      // A character cut off by the end of the file.
      out += REPLACEMENT;
      return Conversion::Replaced;
    }
    if (error != EILSEQ) return Conversion::UnknownCharset;
    out += REPLACEMENT;
    result = Conversion::Replaced;
    const gsize skipped = std::min<gsize>(in_left, unit);
    in += skipped;
    in_left -= skipped;
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
  return Converter(std::string(charset)).valid();
}

std::string text_make_valid_utf8(std::string_view text) {
  // NUL bytes count as invalid too: no text handed on is cut short by one.
  const GText valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
  return valid.get();
}
