// The text of a break-list file as UTF-8, whatever charset it was saved in.
#pragma once

#include <string>
#include <string_view>

// The option that names a file's charset; the warning for an undeclared one points to it.
inline constexpr const char* CHARSET_OPTION = "--cue-charset";

// bytes decoded to valid UTF-8. A byte-order mark decides (UTF-8, UTF-16LE, UTF-16BE) and is
// dropped; else bytes that are valid UTF-8 stay as they are; else they are read in charset,
// or, when charset is empty, in Windows-1252 with a warning naming path and CHARSET_OPTION.
// A byte sequence the charset cannot decode becomes U+FFFD, with one warning for the file.
std::string text_decode_to_utf8(std::string_view bytes, std::string_view charset,
                                std::string_view path);

// True when the system can convert charset to UTF-8.
bool text_charset_is_known(std::string_view charset);

// text with every byte that is not part of a UTF-8 sequence, NUL included, replaced by U+FFFD.
std::string text_make_valid_utf8(std::string_view text);
