// Damaged Ogg Vorbis sources lose only the tracks that need what is damaged: a page whose CRC
// fails, a page left out and an end cut off fail the tracks whose samples they held, with the
// byte offset; every other track is the clean file's, and nothing stands under a failed name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "support/harness.h"
#include "support/ogg_tools.h"
#include "support/tools.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

// Five tracks of four seconds over the 20 s fixture, at 44.1 kHz: blocks of 300.
constexpr std::int64_t TRACK_FRAMES = 176400;
constexpr std::int64_t SOURCE_FRAMES = 5 * TRACK_FRAMES;
const char* const BREAKS = "0=t1\n300=t2\n600=t3\n900=t4\n1200=t5\n";

struct Damage {
  std::string what;
  Bytes bytes;
  std::size_t failed_track;  // 1-based
  std::string reason;        // after "Cannot cut samples A to B of FILE: "
  std::int64_t length = SOURCE_FRAMES;  // what the file's granule positions still state
};

// The audio page whose last packet ends nearest to `frame`: well inside a track, its loss
// reaches no neighbour.
std::size_t page_near(const std::vector<OggPageLayout>& pages, std::int64_t frame) {
  std::size_t best = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (pages[i].granule > 0 && std::abs(pages[i].granule - frame) < std::abs(pages[best].granule - frame)) best = i;
  }
  return best;
}

Bytes without(const Bytes& bytes, const OggPageLayout& page) {
  Bytes cut = slice(bytes, 0, page.offset);
  const Bytes rest = slice(bytes, page.offset + page.bytes, bytes.size() - page.offset - page.bytes);
  cut.insert(cut.end(), rest.begin(), rest.end());
  return cut;
}

std::vector<Damage> damages(const Bytes& clean) {
  const std::vector<OggPageLayout> pages = ogg_page_layout(clean);
  const OggPageLayout& in_track_3 = pages[page_near(pages, 2 * TRACK_FRAMES + TRACK_FRAMES / 2)];
  const OggPageLayout& in_track_2 = pages[page_near(pages, TRACK_FRAMES + TRACK_FRAMES / 2)];
  Bytes flipped = clean;
  flipped[in_track_3.offset + in_track_3.bytes / 2] ^= 0x5A;
  // A download that stopped at nine tenths: past the start of track 5 and short of its end.
  const std::size_t kept = clean.size() * 9 / 10;
  const auto last_whole = std::find_if(pages.rbegin(), pages.rend(), [&](const OggPageLayout& page) {
    return page.offset + page.bytes <= kept;
  });
  EXPECT_GT(last_whole->granule, 4 * TRACK_FRAMES);
  return {
      {"a flipped byte in a page of track 3", flipped, 3,
       "damaged page or foreign data at byte " + std::to_string(in_track_3.offset)},
      {"a page of track 2 left out", without(clean, in_track_2), 2,
       "a page of stream 0000138e is missing before byte " + std::to_string(in_track_2.offset)},
      {"the last tenth cut off", slice(clean, 0, kept), 5,
       "the last page, at byte " + std::to_string(last_whole->offset + last_whole->bytes) + ", is cut short",
       last_whole->granule},
  };
}

TEST(DamagedOgg, OnlyTheTrackThatNeedsTheDamageFails) {
  const fs::path clean_path = fixture("ogg_cut_long.ogg");
  const Bytes clean = read_file(clean_path);
  const DecodedVorbis source = decode_vorbis(clean_path);
  ASSERT_EQ(source.frames(), SOURCE_FRAMES);
  Tfold t;
  write_text(t / "l.txt", BREAKS);
  fs::create_directory(t / "clean");
  const RunResult clean_run = t.run({"split", clean_path.string(), "l.txt", "clean"});
  ASSERT_EQ(clean_run.status, 0) << clean_run.err;
  for (const Damage& damage : damages(clean)) {
    SCOPED_TRACE(damage.what);
    write_file(t / "damaged.ogg", damage.bytes);
    // Reading the sound tracks back agrees with the source around the damage as well.
    for (const bool verify : {false, true}) {
      SCOPED_TRACE(verify ? "with --verify" : "without --verify");
      fs::remove_all(t / "o");
      fs::create_directory(t / "o");
      const RunResult r = verify ? t.run({"split", "--verify", "damaged.ogg", "l.txt", "o"})
                                 : t.run({"split", "damaged.ogg", "l.txt", "o"});
      EXPECT_EQ(r.status, 5) << r.err;
      EXPECT_EQ(r.out.find("Verified 4 of 5 tracks\n") != std::string::npos, verify) << r.out;
      const std::int64_t failed_first = std::int64_t(damage.failed_track - 1) * TRACK_FRAMES;
      const std::int64_t failed_end = std::min(failed_first + TRACK_FRAMES, damage.length);
      const std::string failed_name = "o/t" + std::to_string(damage.failed_track) + ".ogg";
      EXPECT_EQ(warning_texts(r.err),
                (std::vector<std::string>{"Cannot cut samples " + std::to_string(failed_first) + " to " +
                                              std::to_string(failed_end) + " of damaged.ogg: " + damage.reason +
                                              "; the range's samples there are lost and the track is not written",
                                          "Could not write file " + failed_name,
                                          "Error writing file: " + failed_name}));
      std::set<std::string> written;
      for (const auto& entry : fs::directory_iterator(t / "o")) written.insert(entry.path().filename().string());
      for (std::size_t track = 1; track <= 5; ++track) {
        const std::string name = "t" + std::to_string(track) + ".ogg";
        SCOPED_TRACE(name);
        if (track == damage.failed_track) {
          EXPECT_EQ(written.count(name), 0u);
          continue;
        }
        EXPECT_EQ(written.count(name), 1u);
        const DecodedVorbis decoded = decode_vorbis(t / ("o/" + name));
        EXPECT_EQ(decoded.pcm_total, TRACK_FRAMES);
        // Not EXPECT_EQ: a difference would print every sample.
        EXPECT_TRUE(decoded.samples == source.frames(std::int64_t(track - 1) * TRACK_FRAMES, TRACK_FRAMES));
        EXPECT_EQ(read_file(t / ("o/" + name)), read_file(t / ("clean/" + name)));
      }
      EXPECT_EQ(written.size(), 4u);
    }
  }
}

}  // namespace
