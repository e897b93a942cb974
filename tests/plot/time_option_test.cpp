#include <gtest/gtest.h>

#include "plot/time_option.h"

namespace {

TEST(PlotParseTime, TheFormsOfTheBreakLists) {
  const std::pair<const char*, std::optional<std::uint64_t>> cases[] = {
      {"20250", 20250},     {"4:30:00", 20250},  {"4:30.00", 20250}, {"4:30", 20250},     {"0:00.74", 74},
      {"61:02:03", 274653}, {"0", 0},            {"4:60", {}},       {"4:30.75", {}},     {"", {}},
      {"4:", {}},           {":30", {}},         {"-5", {}},         {"1:30.5x", {}},     {"4:30:00:00", {}},
      {"1e3", {}},          {"99999999999999999999999", {}},
  };
  for (const auto& [text, blocks] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(plot_parse_time(text), blocks);
  }
}

}  // namespace
