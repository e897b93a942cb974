#include "formats/tags/id3_tag.h"

#include <gtest/gtest.h>

namespace {

// The syncsafe size of an ID3v2 header: seven bits in each of four bytes.
std::size_t tag_size(const std::string& tag) {
  std::size_t size = 0;
  for (int i = 6; i < 10; ++i) size = size << 7 | static_cast<unsigned char>(tag[i]);
  return size;
}

TEST(Id3Tag, Version24TagWithUtf8TextFrames) {
  const TrackTags tags{"\xD0\x9C\xD0\xB8\xD1\x80", "The Band", "Live", "1999-05-01", "Jazz", 3, 12};
  const std::string tag = id3v2_tag_bytes(tags);
  ASSERT_GE(tag.size(), 10u);
  EXPECT_EQ(tag.substr(0, 5), std::string("ID3\x04\x00", 5));
  EXPECT_EQ(tag_size(tag) + 10, tag.size());
  // Frame id, size 7, no flags, encoding 3 (UTF-8), the text.
  EXPECT_NE(tag.find(std::string("TIT2\0\0\0\x07\0\0\x03\xD0\x9C\xD0\xB8\xD1\x80", 17)), std::string::npos);
  EXPECT_NE(tag.find(std::string("TRCK\0\0\0\x05\0\0\x03" "3/12", 15)), std::string::npos);
  for (const char* frame : {"TPE1", "TALB", "TDRC", "TCON"}) {
    EXPECT_NE(tag.find(frame), std::string::npos) << frame;
  }
}

TEST(Id3Tag, NothingToTagGivesNoTag) {
  EXPECT_EQ(id3v2_tag_bytes(TrackTags{}), "");
  const std::string number_only = id3v2_tag_bytes(TrackTags{"", "", "", "", "", 4, 0});
  EXPECT_NE(number_only.find(std::string("TRCK\0\0\0\x02\0\0\x03" "4", 12)), std::string::npos);
}

}  // namespace
