#include "breaks/metadata.h"

#include <gtest/gtest.h>

namespace {

TEST(Metadata, CleanTextIsTrimmedValidUtf8WithoutControls) {
  EXPECT_EQ(metadata_clean_text("  Two  Words "), "Two  Words");
  EXPECT_EQ(metadata_clean_text("A\tB\r\n\x7F" "C\xC2\x85"), "ABC");
  EXPECT_EQ(metadata_clean_text("caf\xE9"), "caf\xEF\xBF\xBD");
  EXPECT_EQ(metadata_clean_text(std::string("a\0b", 3)), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(metadata_clean_text("\xD0\x9C\xD0\xB8\xD1\x80"), "\xD0\x9C\xD0\xB8\xD1\x80");
  EXPECT_EQ(metadata_clean_text("   "), "");
}

TEST(Metadata, TagsOfATrackFallBackToTheAlbumsPerformer) {
  TrackBreakListPtr list = track_break_list_new("show");
  track_break_list_set_length(*list, NO_END);
  track_break_list_add(*list, 1, 0, std::nullopt);
  track_break_list_add(*list, 0, 100, std::nullopt);
  track_break_list_add(*list, 1, 200, std::nullopt);
  list->album = AlbumMetadata{"Live", "The Band", "1999-05-01", "Jazz"};
  list->breaks[0].metadata = TrackMetadata{"Intro", "", "USABC9900001"};
  list->breaks[2].metadata = TrackMetadata{"Duet", "Guest", ""};

  const TrackTags first = track_break_list_tags(*list, 0);
  EXPECT_EQ(first.title, "Intro");
  EXPECT_EQ(first.artist, "The Band");
  EXPECT_EQ(first.album, "Live");
  EXPECT_EQ(first.date, "1999-05-01");
  EXPECT_EQ(first.genre, "Jazz");
  EXPECT_EQ(first.track_number, 1);
  EXPECT_EQ(first.track_total, 3);
  const TrackTags third = track_break_list_tags(*list, 2);
  EXPECT_EQ(third.title, "Duet");
  EXPECT_EQ(third.artist, "Guest");
  EXPECT_EQ(third.track_number, 3);
}

}  // namespace
