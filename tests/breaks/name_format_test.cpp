#include "breaks/name_format.h"

#include <gtest/gtest.h>

namespace {

TEST(NameFormat, ExpandsConversionsAndKeepsTheNameInsideTheFolder) {
  struct Case {
    const char* what;
    const char* format;
    NameFields fields;
    const char* name;
  };
  const NameFields sheet{3, "Intro", "The Band", "Live", "1999"};
  const Case cases[] = {
      {"every conversion", "%n - %p - %a (%y) - %t 100%%", sheet,
       "03 - The Band - Live (1999) - Intro 100%"},
      {"three-digit numbers", "%n", {104, "x", "", "", ""}, "104"},
      {"slashes in values", "%n %t", {1, "A/B//C", "", "", ""}, "01 A-B--C"},
      {"climbing values stay below", "%p/%t", {1, "..", "/", "", ""}, "-"},
      {"dots inside a name stay", "%t", {1, "...and ..", "", "", ""}, "...and .."},
      {"the template's slash names a folder", "%a/%n %t", sheet, "Live/03 Intro"},
      {"empty, '.' and '..' components dropped", "/%a//./../%y/%t", {1, "T", "", "", ""}, "T"},
      {"a value that empties a component", "%a/%t", {2, "T", "", "", ""}, "T"},
      {"control characters dropped", "%t\t\x7F", {1, "A\nB\r\xC2\x85" "C", "", "", ""}, "ABC"},
      {"bytes that are no UTF-8", "%t", {1, "caf\xE9", "", "", ""}, "caf\xEF\xBF\xBD"},
      {"UTF-8 stays", "%n \xE2\x80\x93 %t", {1, "\xD0\x9C\xD0\xB8\xD1\x80", "", "", ""},
       "01 \xE2\x80\x93 \xD0\x9C\xD0\xB8\xD1\x80"},
      {"nothing left", "%y/..", sheet, "1999"},
      {"nothing at all", "%p", {1, "T", "", "", ""}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(name_format_expand(c.format, c.fields), c.name);
  }
}

TEST(NameFormat, ChecksTheTemplate) {
  EXPECT_EQ(name_format_check("%n. %t (%p, %a, %y) 50%%"), std::nullopt);
  EXPECT_EQ(name_format_check(""), std::nullopt);
  EXPECT_EQ(name_format_check("%n %x"),
            "unknown conversion '%x' (known: %n %t %p %a %y %%)");
  EXPECT_EQ(name_format_check("%N"), "unknown conversion '%N' (known: %n %t %p %a %y %%)");
  EXPECT_EQ(name_format_check("%\xC3\xA9t"),
            "unknown conversion '%\xC3\xA9' (known: %n %t %p %a %y %%)");
  EXPECT_EQ(name_format_check("%t %"), "a '%' at its end");
  EXPECT_EQ(name_format_check("caf\xE9 %t"), "not valid UTF-8");
}

TEST(NameFormat, YearOfADate) {
  EXPECT_EQ(name_format_year("1999"), "1999");
  EXPECT_EQ(name_format_year("1999-05-01"), "1999");
  EXPECT_EQ(name_format_year("May 1999"), "May 1999");
  EXPECT_EQ(name_format_year("99"), "99");
  EXPECT_EQ(name_format_year(""), "");
}

}  // namespace
