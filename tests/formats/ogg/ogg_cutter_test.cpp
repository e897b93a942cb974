#include "formats/ogg/ogg_cutter.h"

#include <gtest/gtest.h>

namespace {

// A link whose audio packets end at these raw samples: priming, then packets of 128, 576 and
// three of 1024 samples, as short and long blocks give them.
OggLink link_of(std::uint32_t serial, std::int64_t decoded_start = 0) {
  OggLink link;
  link.serial = serial;
  link.packet_ends = {0, 128, 704, 1728, 2752, 3776};
  link.decoded_start = decoded_start;
  return link;
}

OggPacketIndex index_of(std::vector<OggLink> links) {
  OggPacketIndex index;
  for (const OggLink& link : links) index.decoded_length += link.decoded_length();
  index.links = std::move(links);
  return index;
}

struct Planned {
  std::size_t priming;
  std::size_t last;
  std::int64_t raw_start;
  std::int64_t length;
};

TEST(OggCutPlan, PacketsAndTrimsOfARange) {
  OggLink trimmed = link_of(1);
  trimmed.dropped = 100;  // the source's own start trim
  // Pages lost before audio packet 3: samples 704 to 1728 are gone, packet 3 only primes.
  OggLink lost_pages = link_of(1);
  lost_pages.gaps = {{3, "a page of stream 00000001 is missing before byte 9000"}};
  OggLink cut_short = link_of(1);
  cut_short.gaps = {{6, "the last page, at byte 9000, is cut short"}};
  const std::string lost = "; the range's samples there are lost and the track is not written";
  const std::string missing = "a page of stream 00000001 is missing before byte 9000" + lost;
  OggLink dropped_later = link_of(1);
  dropped_later.dropped_at = 128;
  dropped_later.dropped = 50;
  const struct {
    const char* name;
    OggLink link;
    std::int64_t start;
    std::int64_t end;
    std::optional<Planned> planned;
    std::string refusal;
  } cases[] = {
      {"whole", link_of(1), 0, 3776, Planned{0, 5, 0, 3776}, ""},
      {"end past the audio", link_of(1), 2000, 99999, Planned{3, 5, 2000, 1776}, ""},
      {"on a packet boundary", link_of(1), 704, 2000, Planned{2, 4, 704, 1296}, ""},
      {"inside a packet", link_of(1), 800, 2000, Planned{2, 4, 800, 1200}, ""},
      {"inside one packet from its start", link_of(1), 704, 1000, Planned{2, 3, 704, 296}, ""},
      // The start trim needs a later page: the next packet comes along, trimmed away whole.
      {"inside one packet up to its end", link_of(1), 800, 1728, Planned{2, 4, 800, 928}, ""},
      {"inside one packet", link_of(1), 800, 1000, std::nullopt,
       "its 200 samples lie inside one Vorbis packet, which cannot carry both a start and an end trim"},
      {"inside the last packet up to its end", link_of(1), 3000, 3776, std::nullopt,
       "its 776 samples lie inside one Vorbis packet, which cannot carry both a start and an end trim"},
      {"source with a start trim", trimmed, 0, 500, Planned{0, 2, 100, 500}, ""},
      {"across samples the source drops", dropped_later, 100, 200, std::nullopt,
       "the range spans samples that the source drops inside its first audio page, which no "
       "track can drop again"},
      {"after samples the source drops", dropped_later, 200, 700, Planned{1, 3, 250, 500}, ""},
      {"before lost pages", lost_pages, 0, 704, Planned{0, 2, 0, 704}, ""},
      {"after lost pages, primed by the packet after them", lost_pages, 1728, 3776, Planned{3, 5, 1728, 2048}, ""},
      {"ending in lost samples", lost_pages, 500, 1000, std::nullopt, missing},
      {"starting in lost samples", lost_pages, 1000, 2000, std::nullopt, missing},
      {"starting where the lost samples start", lost_pages, 704, 2000, std::nullopt, missing},
      {"across lost samples", lost_pages, 0, 3776, std::nullopt, missing},
      {"before a lost end", cut_short, 0, 2752, Planned{0, 4, 0, 2752}, ""},
      {"reaching a lost end", cut_short, 2752, 3776, std::nullopt,
       "the last page, at byte 9000, is cut short" + lost},
      {"empty", link_of(1), 500, 500, std::nullopt,
       "the track starts at sample 500 and ends at 500: it holds no sample of the 3776 there are"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ErrorText error;
    const auto parts = ogg_cut_plan(index_of({c.link}), c.start, c.end, 1, &error);
    if (!c.planned) {
      EXPECT_FALSE(parts.has_value());
      EXPECT_EQ(error, c.refusal);
      continue;
    }
    ASSERT_TRUE(parts.has_value()) << error.value_or("");
    ASSERT_EQ(parts->size(), 1u);
    const OggCutPart& part = parts->front();
    EXPECT_EQ(part.priming, c.planned->priming);
    EXPECT_EQ(part.last, c.planned->last);
    EXPECT_EQ(part.raw_start, c.planned->raw_start);
    EXPECT_EQ(part.length, c.planned->length);
  }
}

TEST(OggCutPlan, RangeAcrossLinksGetsOneStreamEach) {
  const OggPacketIndex index = index_of({link_of(7), link_of(8, 3776)});
  ErrorText error;
  const auto parts = ogg_cut_plan(index, 2000, 4000, 3, &error);
  ASSERT_TRUE(parts.has_value()) << error.value_or("");
  ASSERT_EQ(parts->size(), 2u);
  EXPECT_EQ((*parts)[0].link, 0u);
  EXPECT_EQ((*parts)[0].priming, 3u);
  EXPECT_EQ((*parts)[0].length, 1776);
  EXPECT_EQ((*parts)[1].link, 1u);
  EXPECT_EQ((*parts)[1].priming, 0u);
  EXPECT_EQ((*parts)[1].last, 2u);
  EXPECT_EQ((*parts)[1].length, 224);
  EXPECT_NE((*parts)[0].serial, (*parts)[1].serial);
}

TEST(OggCutPlan, SerialsFollowTheSourceAndTheTrackNumberOnly) {
  const auto serial = [](std::uint32_t source_serial, std::uint32_t track) {
    ErrorText error;
    return ogg_cut_plan(index_of({link_of(source_serial)}), 0, 3776, track, &error)->front().serial;
  };
  EXPECT_EQ(serial(0x1389, 2), serial(0x1389, 2));
  EXPECT_NE(serial(0x1389, 2), serial(0x1389, 3));
  EXPECT_NE(serial(0x1389, 2), serial(0x138A, 2));
  // Whatever the range: the track's number names it.
  ErrorText error;
  EXPECT_EQ(ogg_cut_plan(index_of({link_of(0x1389)}), 704, 2000, 2, &error)->front().serial,
            serial(0x1389, 2));
}

}  // namespace
