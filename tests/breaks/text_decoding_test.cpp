#include <gtest/gtest.h>

#include "breaks/text_decoding.h"
#include "support/log_capture.h"

namespace {

// "Привет" (hello) as Windows-1251, UTF-8 and UTF-16LE bytes.
const std::string HELLO_1251 = "\xCF\xF0\xE8\xE2\xE5\xF2";
const std::string HELLO_UTF8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";
const std::string HELLO_UTF16LE = std::string("\x1F\x04\x40\x04\x38\x04\x32\x04\x35\x04\x42\x04", 12);
const std::string REPLACEMENT = "\xEF\xBF\xBD";

TEST(TextDecoding, MarkThenUtf8ThenTheNamedCharsetThenWindows1252) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* charset;
    std::string text;
    const char* warning;  // a part of the log text; "" for none at all
  };
  const Case cases[] = {
      {"ASCII", "TITLE \"A\"\n", "", "TITLE \"A\"\n", ""},
      {"UTF-8 stays whatever the charset", HELLO_UTF8, "WINDOWS-1251", HELLO_UTF8, ""},
      {"UTF-8 mark dropped", "\xEF\xBB\xBF" + HELLO_UTF8, "", HELLO_UTF8, ""},
      {"UTF-8 mark decides over the charset", "\xEF\xBB\xBF" "A\xE9", "WINDOWS-1251",
       "A" + REPLACEMENT, ""},
      {"UTF-16LE mark", "\xFF\xFE" + HELLO_UTF16LE + std::string("\n\0", 2), "", HELLO_UTF8 + "\n", ""},
      {"UTF-16BE mark", std::string("\xFE\xFF\0A\0\n", 6), "WINDOWS-1251", "A\n", ""},
      {"UTF-16 cut inside a character", std::string("\xFF\xFE" "A\0B", 5), "", "A" + REPLACEMENT,
       "not UTF-16LE"},
      {"UTF-16 lone surrogate", std::string("\xFF\xFE" "A\0\x00\xD8" "B\0", 8), "",
       "A" + REPLACEMENT + "B", "not UTF-16LE"},
      {"named charset", HELLO_1251 + "\n", "WINDOWS-1251", HELLO_UTF8 + "\n", ""},
      // Its NUL bytes make it no UTF-8, which Cyrillic alone in UTF-16 could pass for.
      {"named UTF-16 without a mark", std::string("A\0\n\0", 4) + HELLO_UTF16LE, "UTF-16LE",
       "A\n" + HELLO_UTF8, ""},
      {"Shift-JIS", "\x82\xA0\x82\xA2", "SHIFT_JIS", "\xE3\x81\x82\xE3\x81\x84", ""},
      {"no charset named: Windows-1252", HELLO_1251, "", "\xC3\x8F\xC3\xB0\xC3\xA8\xC3\xA2\xC3\xA5\xC3\xB2",
       "sheet.cue is not UTF-8; read as Windows-1252 (--cue-charset=CHARSET names its charset)"},
      {"a byte Windows-1252 leaves undefined", "a\x81" "b\x80", "", "a" + REPLACEMENT + "b\xE2\x82\xAC",
       "sheet.cue: bytes that are not WINDOWS-1252 replaced by U+FFFD"},
      {"bytes the named charset cannot decode", "\x82\xA0\x82", "SHIFT_JIS", "\xE3\x81\x82" + REPLACEMENT,
       "sheet.cue: bytes that are not SHIFT_JIS replaced by U+FFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tfold_test::LogCapture log;
    EXPECT_EQ(text_decode_to_utf8(c.bytes, c.charset, "sheet.cue"), c.text);
    if (std::string(c.warning).empty()) {
      EXPECT_EQ(log.text(), "");
    } else {
      EXPECT_NE(log.text().find(c.warning), std::string::npos) << log.text();
    }
  }
}

TEST(TextDecoding, KnowsTheCharsetsOfTheSystemOnly) {
  EXPECT_TRUE(text_charset_is_known("WINDOWS-1251"));
  EXPECT_TRUE(text_charset_is_known("cp1251"));
  EXPECT_TRUE(text_charset_is_known("SHIFT_JIS"));
  EXPECT_FALSE(text_charset_is_known("NO-SUCH-CHARSET"));
  EXPECT_FALSE(text_charset_is_known(""));
}

TEST(TextDecoding, MakesAnyTextValidUtf8) {
  EXPECT_EQ(text_make_valid_utf8(HELLO_UTF8), HELLO_UTF8);
  EXPECT_EQ(text_make_valid_utf8("a\xFF" "b"), "a" + REPLACEMENT + "b");
  EXPECT_EQ(text_make_valid_utf8(std::string("a\0b", 3)), "a" + REPLACEMENT + "b");
  EXPECT_EQ(text_make_valid_utf8("\xD0"), REPLACEMENT);
}

}  // namespace
