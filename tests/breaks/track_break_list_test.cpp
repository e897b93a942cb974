#include "breaks/track_break_list.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "breaks/naming.h"
#include "support/log_capture.h"
#include "settings/settings.h"

namespace {

struct Visit {
  std::int32_t index;
  std::int32_t write;
  std::uint64_t start;
  std::uint64_t end;
  std::string name;
  bool operator==(const Visit&) const = default;
};

void collect(std::int32_t index, std::int32_t write, std::uint64_t start, std::uint64_t end,
             const std::string& name, void* user_data) {
  static_cast<std::vector<Visit>*>(user_data)->push_back({index, write, start, end, name});
}

std::vector<Visit> visits(const TrackBreakList& list) {
  std::vector<Visit> result;
  track_break_list_foreach(list, collect, &result);
  return result;
}

class TrackBreakListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_use_etree_filename_suffix(0);
    set_prepend_file_number(0);
    set_etree_filename_suffix("-");
  }
  tfold_test::LogCapture log;
};

TEST_F(TrackBreakListTest, NewListAcceptsOnlyOffsetZeroUntilLengthIsSet) {
  TrackBreakListPtr list = track_break_list_new("show");
  EXPECT_EQ(list->basename, "show");
  EXPECT_EQ(list->length, 0u);
  EXPECT_NE(track_break_list_add(*list, 1, 0, std::nullopt), nullptr);
  EXPECT_EQ(track_break_list_add(*list, 1, 1, std::nullopt), nullptr);
  EXPECT_EQ(log.text(), "Offset out of range\n");
  EXPECT_EQ(list->breaks.size(), 1u);

  track_break_list_set_length(*list, 100);
  EXPECT_NE(track_break_list_add(*list, 1, 1, std::nullopt), nullptr);
}

TEST_F(TrackBreakListTest, VisitsBreaksInOffsetOrderWithStartEndAndName) {
  TrackBreakListPtr list = track_break_list_new("show");
  track_break_list_set_length(*list, 20000);
  track_break_list_add(*list, 1, 9000, std::nullopt);
  track_break_list_add(*list, 0, 0, std::nullopt);
  track_break_list_add(*list, 1, 4500, "Middle");
  const std::vector<Visit> expected{{0, 0, 0, 4500, "show-01"},
                                    {1, 1, 4500, 9000, "Middle"},
                                    {2, 1, 9000, 20000, "show-03"}};
  EXPECT_EQ(visits(*list), expected);
}

TEST_F(TrackBreakListTest, DuplicateOffsetReturnsTheExistingBreakUnchanged) {
  TrackBreakListPtr list = track_break_list_new("show");
  track_break_list_set_length(*list, 10000);
  TrackBreak* first = track_break_list_add(*list, 1, 4500, "Keep");
  ASSERT_NE(first, nullptr);
  TrackBreak* again = track_break_list_add(*list, 0, 4500, "Other");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->write, 1);
  EXPECT_EQ(again->filename, "Keep");
  EXPECT_EQ(list->breaks.size(), 1u);
}

TEST_F(TrackBreakListTest, OffsetEqualToLengthGivesAnEmptyLastTrack) {
  TrackBreakListPtr list = track_break_list_new("show");
  track_break_list_set_length(*list, 9000);
  track_break_list_add(*list, 1, 0, std::nullopt);
  ASSERT_NE(track_break_list_add(*list, 1, 9000, std::nullopt), nullptr);
  EXPECT_EQ(visits(*list).back(), (Visit{1, 1, 9000, 9000, "show-02"}));
  EXPECT_EQ(log.text(), "");
}

TEST_F(TrackBreakListTest, NoEndAcceptsEveryOffsetAndEndsTheLastTrackThere) {
  TrackBreakListPtr list = track_break_list_new("show");
  track_break_list_set_length(*list, NO_END);
  ASSERT_NE(track_break_list_add(*list, 1, NO_END - 1, std::nullopt), nullptr);
  ASSERT_NE(track_break_list_add(*list, 1, 0, std::nullopt), nullptr);
  const std::vector<Visit> seen = visits(*list);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].end, NO_END);
}

TEST_F(TrackBreakListTest, EmptyFileNameIsStoredByAddButRemovedBySetFilename) {
  TrackBreakListPtr list = track_break_list_new("show");
  track_break_list_set_length(*list, 100);
  TrackBreak* brk = track_break_list_add(*list, 1, 0, "");
  ASSERT_NE(brk, nullptr);
  EXPECT_EQ(brk->filename, "");
  EXPECT_EQ(visits(*list)[0].name, "");

  track_break_set_filename(*brk, "Named");
  EXPECT_EQ(brk->filename, "Named");
  track_break_set_filename(*brk, "");
  EXPECT_FALSE(brk->filename.has_value());
  track_break_set_filename(*brk, "Again");
  track_break_set_filename(*brk, std::nullopt);
  EXPECT_FALSE(brk->filename.has_value());
}

TEST_F(TrackBreakListTest, RemoveClearAndClearFilenames) {
  TrackBreakListPtr list = track_break_list_new("show");
  track_break_list_set_length(*list, 100);
  track_break_list_add(*list, 1, 10, "A");
  track_break_list_add(*list, 1, 20, "B");
  track_break_list_add(*list, 0, 30, "C");

  track_break_list_remove_nth(*list, 1);
  EXPECT_EQ(visits(*list), (std::vector<Visit>{{0, 1, 10, 30, "A"}, {1, 0, 30, 100, "C"}}));

  track_break_list_clear_filenames(*list);
  EXPECT_EQ(visits(*list), (std::vector<Visit>{{0, 1, 10, 30, "show-01"},
                                               {1, 0, 30, 100, "show-02"}}));

  track_break_list_clear(*list);
  EXPECT_TRUE(list->breaks.empty());
  EXPECT_EQ(list->basename, "show");
  EXPECT_EQ(list->length, 100u);
}

TEST_F(TrackBreakListTest, CompareOrdersByOffsetUnsigned) {
  struct Case {
    std::uint64_t a, b;
    int result;
  };
  const Case cases[] = {{1, 2, -1}, {2, 1, 1}, {7, 7, 0}, {0, NO_END, -1}, {NO_END, 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " vs " << c.b);
    TrackBreak a;
    a.offset = c.a;
    TrackBreak b;
    b.offset = c.b;
    EXPECT_EQ(track_break_compare(a, b), c.result);
  }
}

TEST_F(TrackBreakListTest, ForeachHandsOnTheUserData) {
  TrackBreakListPtr list = track_break_list_new("show");
  track_break_list_set_length(*list, 100);
  track_break_list_add(*list, 1, 0, std::nullopt);
  int calls = 0;
  track_break_list_foreach(
      *list,
      [](std::int32_t, std::int32_t, std::uint64_t, std::uint64_t, const std::string&,
         void* data) { ++*static_cast<int*>(data); },
      &calls);
  EXPECT_EQ(calls, 1);
}

}  // namespace
