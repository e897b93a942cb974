// The checksum of a page whose header changed, worked out without its body, must be the one
// libogg computes over the whole changed page.
#include <gtest/gtest.h>

#include <ogg/ogg.h>

#include <cstdint>
#include <random>
#include <vector>

#include "formats/ogg/ogg_crc.h"

namespace {

struct Page {
  std::vector<unsigned char> header;
  std::vector<unsigned char> body;

  // libogg's checksum of the page as it stands, which it also stores in the header.
  std::uint32_t checksum() {
    ogg_page page{header.data(), long(header.size()), body.data(), long(body.size())};
    ogg_page_checksum_set(&page);
    return std::uint32_t(header[22]) | std::uint32_t(header[23]) << 8 |
           std::uint32_t(header[24]) << 16 | std::uint32_t(header[25]) << 24;
  }
};

Page random_page(std::mt19937& random, int segments, std::size_t body_bytes) {
  Page page;
  page.header.resize(27 + std::size_t(segments));
  for (auto& byte : page.header) byte = static_cast<unsigned char>(random());
  page.header[26] = static_cast<unsigned char>(segments);
  page.body.resize(body_bytes);
  for (auto& byte : page.body) byte = static_cast<unsigned char>(random());
  return page;
}

TEST(OggCrc, FollowsAnyChangeOfTheHeaderFields) {
  const struct {
    int segments;
    std::size_t body_bytes;
  } pages[] = {{0, 0}, {1, 1}, {1, 255}, {17, 4096}, {255, 65025}};
  const struct {
    const char* field;
    std::size_t from;
    std::size_t to;
  } changes[] = {
      {"flags", 5, 6}, {"granule", 6, 14}, {"serial", 14, 18}, {"sequence", 18, 22},
      {"all of them", 5, 22}, {"the checksum field alone", 22, 26},
  };
  std::mt19937 random(7);
  for (const auto& p : pages) {
    for (const auto& change : changes) {
      SCOPED_TRACE(std::to_string(p.body_bytes) + " bytes, " + change.field);
      Page page = random_page(random, p.segments, p.body_bytes);
      const std::vector<unsigned char> before = page.header;
      const std::uint32_t old_crc = page.checksum();
      std::vector<unsigned char> after = page.header;
      for (std::size_t i = change.from; i < change.to; ++i) after[i] = static_cast<unsigned char>(random());
      page.header = after;
      const std::uint64_t page_bytes = before.size() + page.body.size();
      EXPECT_EQ(ogg_crc_after_header_change(old_crc, before, after, page_bytes), page.checksum());
    }
  }
}

}  // namespace
