#include "breaks/time_code.h"

#include <gtest/gtest.h>

namespace {

TEST(TimeCode, FormatsDisplayAndCueStyle) {
  struct Case {
    std::uint64_t blocks;
    bool cue_style;
    const char* text;
  };
  const Case cases[] = {
      {0, false, "0:00.00"},
      {4500, false, "1:00.00"},
      {15415, false, "3:25.40"},
      {15415, true, "3:25:40"},
      {337500, false, "75:00.00"},
      {4499, true, "0:59:74"},
      // Minutes are printed as a signed 32-bit number.
      {4500ull * 2147483648ull, false, "-2147483648:00.00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.blocks);
    EXPECT_EQ(format_time_code(c.blocks, c.cue_style), c.text);
  }
}

TEST(TimeCode, ParsesLikeScanfIn32Bits) {
  struct Case {
    const char* text;
    std::int32_t blocks;
  };
  const Case cases[] = {
      {"3:25:40", 15415},
      {"0:75:00", 5625},
      {"0:00:75", 75},
      {"120:00:00", 540000},
      {" 1: 2: 3", 4653},
      {"3:25:40 trailing", 15415},
      {"-1:00:00", -4500},
      {"3:25", 0},
      {"no digits", 0},
      {"", 0},
      {"477219:00:00", -2147481796},  // wraps like 32-bit arithmetic
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_time_code(c.text), c.blocks);
  }
}

}  // namespace
