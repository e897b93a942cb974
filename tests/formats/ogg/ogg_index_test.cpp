#include "formats/ogg/ogg_index.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/harness.h"
#include "support/ogg_tools.h"

namespace {

using namespace tfold_test;

std::optional<OggPacketIndex> index_bytes(const Bytes& bytes, ErrorText* error) {
  TempDir dir;
  write_file(dir / "in.ogg", bytes);
  const FilePtr fp(std::fopen((dir / "in.ogg").c_str(), "rb"));
  return ogg_index_packets(fileno(fp.get()), error);
}

std::optional<OggPacketIndex> index_fixture(const std::string& name) {
  ErrorText error;
  auto index = index_bytes(read_file(fixture(name)), &error);
  EXPECT_TRUE(index.has_value()) << error.value_or("");
  return index;
}

bool starts_with(const std::vector<std::uint8_t>& bytes, const char* text) {
  return bytes.size() >= std::strlen(text) && std::memcmp(bytes.data(), text, std::strlen(text)) == 0;
}

TEST(OggIndex, OneStream) {
  const auto index = index_fixture("ogg_cut_stereo44.ogg");
  ASSERT_TRUE(index.has_value());
  ASSERT_EQ(index->links.size(), 1u);
  const OggLink& link = index->links[0];
  EXPECT_EQ(link.serial, 5001u);
  EXPECT_EQ(index->decoded_length, 88200);
  EXPECT_EQ(link.decoded_length(), 88200);
  EXPECT_TRUE(starts_with(link.headers[0], "\x01vorbis"));
  EXPECT_TRUE(starts_with(link.headers[1], "\x03vorbis"));
  EXPECT_TRUE(starts_with(link.headers[2], "\x05vorbis"));
  EXPECT_EQ(link.packet_ends.front(), 0);  // the priming packet
  EXPECT_EQ(link.dropped, 0);
  // The page layout libogg reads is the index's.
  const auto pages = ogg_page_layout(read_file(fixture("ogg_cut_stereo44.ogg")));
  ASSERT_EQ(link.pages.size(), pages.size());
  for (std::size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(link.pages[i].offset, pages[i].offset);
    EXPECT_EQ(link.pages[i].bytes, pages[i].bytes);
  }
}

TEST(OggIndex, ChainedLinksFollowEachOther) {
  const auto index = index_fixture("ogg_cut_chained.ogg");
  ASSERT_TRUE(index.has_value());
  ASSERT_EQ(index->links.size(), 2u);
  EXPECT_EQ(index->links[0].serial, 5004u);
  EXPECT_EQ(index->links[1].serial, 5005u);
  EXPECT_EQ(index->links[1].decoded_start, 88200);
  EXPECT_EQ(index->decoded_length, 176400);
}

TEST(OggIndex, RefusesWhatIsNoCleanVorbisStream) {
  const Bytes chained = read_file(fixture("ogg_cut_chained.ogg"));
  const auto pages = ogg_page_layout(chained);
  // The second link's first two pages: identification, then comment and setup.
  const auto second = std::find_if(pages.begin() + 1, pages.end(), [](const auto& p) { return p.bos; });
  ASSERT_NE(second, pages.end());
  const auto without_page = [&](const OggPageLayout& page) {
    Bytes bytes = slice(chained, 0, page.offset);
    const Bytes rest = slice(chained, page.offset + page.bytes, chained.size());
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
  };
  // A page left out leaves the next one at its place.
  const std::string at = std::to_string(second->offset);
  const std::string after_bos = std::to_string(second[1].offset);
  const struct {
    const char* name;
    Bytes bytes;
    std::string reason;
  } cases[] = {
      {"headers missing", without_page(second[1]),
       "the Vorbis headers of stream 0000138d are missing before byte " + after_bos},
      {"no first page", without_page(second[0]),
       "a page of stream 0000138d at byte " + at + " comes without the stream's headers"},
      {"not Ogg", Bytes(100, 'x'), "damaged page or foreign data at byte 0"},
      {"empty", Bytes{}, "no Vorbis audio found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ErrorText error;
    EXPECT_FALSE(index_bytes(c.bytes, &error).has_value());
    EXPECT_EQ(error, c.reason);
  }
}

Bytes without_page(const Bytes& bytes, const OggPageLayout& page) {
  Bytes cut = slice(bytes, 0, page.offset);
  const Bytes rest = slice(bytes, page.offset + page.bytes, bytes.size() - page.offset - page.bytes);
  cut.insert(cut.end(), rest.begin(), rest.end());
  return cut;
}

TEST(OggIndex, GoesOnAfterDamageWithThePacketsWhereTheyWere) {
  const Bytes clean = read_file(fixture("ogg_cut_long.ogg"));
  const auto pages = ogg_page_layout(clean);
  const auto clean_index = index_fixture("ogg_cut_long.ogg");
  ASSERT_TRUE(clean_index.has_value());
  const std::vector<std::int64_t>& clean_ends = clean_index->links[0].packet_ends;
  // A page that neither continues a packet nor leaves one open: it loses only its own.
  std::size_t middle = pages.size() / 2;
  while (middle + 2 < pages.size() && (pages[middle].continued || pages[middle + 1].continued)) ++middle;
  ASSERT_LT(middle + 2, pages.size());
  // The audio packets before the middle page: those that end on earlier pages, less the
  // three headers.
  int ended = 0;
  for (std::size_t i = 0; i < middle; ++i) ended += pages[i].packets_ended;
  const auto before = static_cast<std::size_t>(ended - 3);
  const auto lost = static_cast<std::size_t>(pages[middle].packets_ended);
  Bytes flipped = clean;
  flipped[pages[middle].offset + 100] ^= 1;
  Bytes junk = slice(clean, 0, pages[middle].offset);
  junk.insert(junk.end(), 333, 'j');
  const Bytes rest = slice(clean, pages[middle].offset, clean.size() - pages[middle].offset);
  junk.insert(junk.end(), rest.begin(), rest.end());
  const std::string at = std::to_string(pages[middle].offset);
  const struct {
    const char* name;
    Bytes bytes;
    std::size_t lost_packets;  // of the clean file's
    std::string reason;        // "" for no gap
  } cases[] = {
      {"a flipped bit", flipped, lost, "damaged page or foreign data at byte " + at},
      {"a page left out", without_page(clean, pages[middle]), lost,
       "a page of stream 0000138e is missing before byte " + at},
      {"bytes that are no page between two pages", junk, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ErrorText error;
    const auto index = index_bytes(c.bytes, &error);
    ASSERT_TRUE(index.has_value()) << error.value_or("");
    EXPECT_EQ(index->decoded_length, clean_index->decoded_length);
    const OggLink& link = index->links[0];
    const std::vector<std::int64_t>& ends = link.packet_ends;
    ASSERT_EQ(ends.size() + c.lost_packets, clean_ends.size());
    if (c.reason.empty()) {
      EXPECT_TRUE(link.gaps.empty());
      EXPECT_EQ(ends, clean_ends);
      continue;
    }
    ASSERT_EQ(link.gaps.size(), 1u);
    EXPECT_EQ(link.gaps[0].packet, before);
    EXPECT_EQ(link.gaps[0].reason, c.reason);
    // Every packet but the lost ones keeps its end; the first after them ends where it did.
    EXPECT_TRUE(std::equal(ends.begin(), ends.begin() + before, clean_ends.begin()));
    EXPECT_TRUE(std::equal(ends.begin() + before, ends.end(), clean_ends.begin() + before + c.lost_packets));
  }
}

TEST(OggIndex, EndCutShortIsAGapAfterTheLastWholePacket) {
  const Bytes clean = read_file(fixture("ogg_cut_long.ogg"));
  const auto pages = ogg_page_layout(clean);
  const auto clean_index = index_fixture("ogg_cut_long.ogg");
  ASSERT_TRUE(clean_index.has_value());
  const OggPageLayout& cut_page = pages[pages.size() - 5];
  ErrorText error;
  const auto index = index_bytes(slice(clean, 0, cut_page.offset + 40), &error);
  ASSERT_TRUE(index.has_value()) << error.value_or("");
  const OggLink& link = index->links[0];
  // The packets that end before the page cut short, and a gap after them.
  int ended = 0;
  for (std::size_t i = 0; i + 5 < pages.size(); ++i) ended += pages[i].packets_ended;
  ASSERT_EQ(link.packet_ends.size(), static_cast<std::size_t>(ended - 3));
  EXPECT_TRUE(std::equal(link.packet_ends.begin(), link.packet_ends.end(), clean_index->links[0].packet_ends.begin()));
  ASSERT_EQ(link.gaps.size(), 1u);
  EXPECT_EQ(link.gaps[0].packet, link.packet_ends.size());
  EXPECT_EQ(link.gaps[0].reason, "the last page, at byte " + std::to_string(cut_page.offset) + ", is cut short");
  EXPECT_EQ(index->decoded_length, pages[pages.size() - 6].granule);
}

TEST(OggIndex, DamageBeforeTheNextLinkTakesTheEndOfTheLinkBefore) {
  const Bytes chained = read_file(fixture("ogg_cut_chained.ogg"));
  const auto pages = ogg_page_layout(chained);
  const auto second = std::find_if(pages.begin() + 1, pages.end(), [](const auto& p) { return p.bos; });
  ASSERT_NE(second, pages.end());
  const OggPageLayout& last_of_first = second[-1];
  Bytes damaged = chained;
  damaged[last_of_first.offset + last_of_first.bytes / 2] ^= 0x10;
  const auto clean = index_fixture("ogg_cut_chained.ogg");
  ASSERT_TRUE(clean.has_value());
  ErrorText error;
  const auto index = index_bytes(damaged, &error);
  ASSERT_TRUE(index.has_value()) << error.value_or("");
  ASSERT_EQ(index->links.size(), 2u);
  const OggLink& first = index->links[0];
  ASSERT_EQ(first.gaps.size(), 1u);
  EXPECT_EQ(first.gaps[0].packet, first.packet_ends.size());
  EXPECT_EQ(first.gaps[0].reason, "damaged page or foreign data at byte " + std::to_string(last_of_first.offset));
  EXPECT_EQ(first.packet_ends.size() + std::size_t(last_of_first.packets_ended), clean->links[0].packet_ends.size());
  EXPECT_EQ(first.decoded_length(), second[-2].granule);
  // The next link is whole, and follows what is left of the first.
  EXPECT_TRUE(index->links[1].gaps.empty());
  EXPECT_EQ(index->links[1].packet_ends, clean->links[1].packet_ends);
  EXPECT_EQ(index->links[1].decoded_start, first.decoded_length());
}

}  // namespace
