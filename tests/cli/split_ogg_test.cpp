// Splitting Ogg Vorbis end to end: every track must decode, with libvorbisfile, to exactly the
// source's decoded samples of its range, and say so in its length.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support/harness.h"
#include "support/ogg_tools.h"

using namespace tfold_test;
namespace fs = std::filesystem;

namespace {

const std::string CHAINED_WARNING =
    "cross from one link of the chained file into the next: the track is written as a chained "
    "Ogg file, which some players do not follow\n";

// A break: its block of 1/75 second and the sample frame that block starts at.
struct Break {
  std::uint64_t block;
  std::int64_t sample;
};

enum class Claim {
  on_packet_boundary,   // the track starts where a packet's samples start
  inside_packet,        // the track starts inside a packet: the decoder trims its head
  block_size_change,    // the packet that holds the start has another size than the one before
};

struct ClaimAt {
  std::size_t track;
  Claim claim;
};

struct Track {
  std::string name;
  std::int64_t first = 0;
  std::int64_t end = 0;
  fs::path path;
};

// Writes the break list, runs the split and returns the tracks it should have made.
std::vector<Track> split(const Tfold& t, const fs::path& source, const std::vector<Break>& breaks,
                         std::int64_t source_frames, RunResult& result) {
  std::string list;
  std::vector<Track> tracks;
  for (std::size_t i = 0; i < breaks.size(); ++i) {
    const std::string name = "t" + std::to_string(i + 1);
    list += std::to_string(breaks[i].block) + "=" + name + "\n";
    const std::int64_t end = i + 1 < breaks.size() ? breaks[i + 1].sample : source_frames;
    tracks.push_back({name, breaks[i].sample, end, t.dir() / "out" / (name + ".ogg")});
  }
  write_text(t / "list.txt", list);
  fs::create_directories(t.dir() / "out");
  result = t.run({"split", source.string(), t / "list.txt", t / "out"});
  return tracks;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

void expect_claim(const DecodedVorbis& source, std::int64_t first, Claim claim) {
  switch (claim) {
    case Claim::on_packet_boundary:
      EXPECT_TRUE(source.packet_starts_at(first)) << "no packet starts at " << first;
      break;
    case Claim::inside_packet:
      EXPECT_FALSE(source.packet_starts_at(first)) << "a packet starts at " << first;
      break;
    case Claim::block_size_change:
      EXPECT_NE(source.packet_size_at(first), source.previous_packet_size_at(first)) << first;
      break;
  }
}

// The track decodes to the source's frames [first, end) and states that length.
void expect_exact_track(const DecodedVorbis& source, const Track& track) {
  SCOPED_TRACE(track.name + " [" + std::to_string(track.first) + ", " + std::to_string(track.end) + ")");
  const DecodedVorbis decoded = decode_vorbis(track.path);
  ASSERT_TRUE(decoded.opened);
  EXPECT_EQ(decoded.channels, source.channels);
  EXPECT_EQ(decoded.rate, source.rate);
  EXPECT_EQ(decoded.pcm_total, track.end - track.first);
  EXPECT_EQ(decoded.frames(), track.end - track.first);
  // Not EXPECT_EQ: a difference would print every sample.
  EXPECT_TRUE(decoded.samples == source.frames(track.first, track.end - track.first));
  for (const auto& comments : decoded.comments) {
    EXPECT_NE(std::find(source.comments.begin(), source.comments.end(), comments), source.comments.end());
  }
}

TEST(SplitOgg, EveryTrackDecodesToItsRangeOfTheSource) {
  const struct {
    const char* fixture;
    std::vector<Break> breaks;
    std::vector<ClaimAt> claims;
    std::size_t chained_track;  // 1-based track written as a chained file; 0: none
  } cases[] = {
      // 44.1 kHz stereo: starts inside packets where short and long blocks meet.
      {"ogg_cut_stereo44.ogg",
       {{0, 0}, {1, 588}, {10, 5880}, {35, 20580}, {60, 35280}, {100, 58800}},
       {{0, Claim::on_packet_boundary},
        {1, Claim::inside_packet}, {1, Claim::block_size_change},
        {2, Claim::inside_packet}, {2, Claim::block_size_change}},
       0},
      // 48 kHz mono: starts on packet boundaries, where the block size changes and where not.
      {"ogg_cut_mono48.ogg",
       {{0, 0}, {8, 5120}, {27, 17280}, {47, 30080}, {75, 48000}, {140, 89600}},
       {{1, Claim::inside_packet}, {1, Claim::block_size_change},
        {2, Claim::on_packet_boundary}, {2, Claim::block_size_change},
        {3, Claim::on_packet_boundary}, {3, Claim::block_size_change},
        {4, Claim::on_packet_boundary}},
       0},
      // 8 kHz, where a block of 1/75 second is no whole number of samples.
      {"ogg_cut_stereo8.ogg",
       {{0, 0}, {12, 1280}, {50, 5333}, {144, 15360}},
       {{1, Claim::on_packet_boundary}, {2, Claim::inside_packet}, {3, Claim::on_packet_boundary}},
       0},
      // 20 s: long tracks, which copy most of the source's pages whole.
      {"ogg_cut_long.ogg", {{0, 0}, {1, 588}, {333, 195804}, {750, 441000}, {1400, 823200}}, {}, 0},
      // Two links of 2 s: a track inside each, one across the boundary.
      {"ogg_cut_chained.ogg", {{0, 0}, {140, 82320}, {160, 94080}}, {}, 2},
      // A track that ends exactly at the end of the first link stays a single stream.
      {"ogg_cut_chained.ogg", {{0, 0}, {150, 88200}}, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    const DecodedVorbis source = decode_vorbis(fixture(c.fixture));
    ASSERT_TRUE(source.opened);
    for (const ClaimAt& at : c.claims) expect_claim(source, c.breaks[at.track].sample, at.claim);

    Tfold t;
    RunResult r;
    const std::vector<Track> tracks = split(t, fixture(c.fixture), c.breaks, source.frames(), r);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(occurrences(r.err, "WARNING"), c.chained_track == 0 ? 0u : 1u) << r.err;
    if (c.chained_track != 0) {
      const Track& chained = tracks[c.chained_track - 1];
      EXPECT_NE(r.err.find("Samples " + std::to_string(chained.first) + " to " +
                           std::to_string(chained.end) + " of " + fixture(c.fixture).string() +
                           " " + CHAINED_WARNING),
                std::string::npos) << r.err;
      const auto pages = ogg_page_layout(read_file(chained.path));
      EXPECT_EQ(std::count_if(pages.begin(), pages.end(), [](const auto& p) { return p.bos; }), 2);
    }
    for (const Track& track : tracks) expect_exact_track(source, track);
  }
}

TEST(SplitOgg, TagsOfTheSourceAreKept) {
  const DecodedVorbis source = decode_vorbis(fixture("ogg_cut_stereo44.ogg"));
  ASSERT_EQ(source.comments.size(), 1u);
  const std::vector<std::string> tags(source.comments[0].begin() + 1, source.comments[0].end());
  EXPECT_EQ(tags, (std::vector<std::string>{"COMMENT=kept in every track", "title=Cut Title",
                                            "artist=Cut Artist"}));
  Tfold t;
  RunResult r;
  const auto tracks = split(t, fixture("ogg_cut_stereo44.ogg"), {{0, 0}, {75, 44100}}, source.frames(), r);
  for (const Track& track : tracks) EXPECT_EQ(decode_vorbis(track.path).comments, source.comments);
}

TEST(SplitOgg, PagesOfATrack) {
  Tfold t;
  RunResult r;
  const auto tracks = split(t, fixture("ogg_cut_mono48.ogg"), {{0, 0}, {8, 5120}, {100, 64000}}, 96000, r);
  ASSERT_EQ(r.status, 0) << r.err;
  const Bytes bytes = read_file(tracks[1].path);
  const std::vector<OggPageLayout> pages = ogg_page_layout(bytes);
  ASSERT_GE(pages.size(), 4u);
  std::uint64_t covered = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(pages[i].sequence, i);
    EXPECT_EQ(pages[i].serial, pages[0].serial);
    EXPECT_EQ(pages[i].bos, i == 0);
    EXPECT_EQ(pages[i].eos, i + 1 == pages.size());
    covered += pages[i].bytes;
  }
  EXPECT_EQ(covered, bytes.size());  // nothing but pages
  // The identification header alone on the first page; the comment and setup headers end
  // their page, so the audio starts on a page of its own.
  EXPECT_EQ(pages[0].packets_ended, 1);
  EXPECT_EQ(pages[0].granule, 0);
  std::size_t first_audio = 1;
  for (int headers = 1; headers < 3; ++first_audio) headers += pages[first_audio].packets_ended;
  EXPECT_FALSE(pages[first_audio - 1].leaves_open);
  // The priming packet and the first with samples, whose head the granule trims: 5120 lies
  // inside a packet of 576 samples that starts at 4672 (4672 + 576 - 5120 = 128).
  EXPECT_EQ(pages[first_audio].packets_ended, 2);
  EXPECT_EQ(pages[first_audio].granule, 128);
  EXPECT_EQ(pages.back().granule, 64000 - 5120);

  // The same split gives the same bytes; each track has a serial of its own.
  Tfold again;
  const auto tracks_again = split(again, fixture("ogg_cut_mono48.ogg"), {{0, 0}, {8, 5120}, {100, 64000}}, 96000, r);
  std::set<std::uint32_t> serials;
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    EXPECT_EQ(read_file(tracks[i].path), read_file(tracks_again[i].path));
    serials.insert(ogg_page_layout(read_file(tracks[i].path)).front().serial);
  }
  EXPECT_EQ(serials.size(), tracks.size());
}

// The body of each page: its bytes after the header.
std::vector<Bytes> page_bodies(const Bytes& bytes) {
  std::vector<Bytes> bodies;
  for (const OggPageLayout& page : ogg_page_layout(bytes)) {
    const std::size_t header = 27 + bytes[page.offset + 26];
    bodies.push_back(slice(bytes, page.offset + header, page.bytes - header));
  }
  return bodies;
}

TEST(SplitOgg, LongTrackCarriesTheSourcesPagesAndSeeksToTheSample) {
  const fs::path long_source = fixture("ogg_cut_long.ogg");
  const DecodedVorbis source = decode_vorbis(long_source);
  ASSERT_TRUE(source.opened);
  Tfold t;
  RunResult r;
  const auto tracks = split(t, long_source, {{0, 0}, {37, 21756}, {1300, 764400}}, source.frames(), r);
  ASSERT_EQ(r.status, 0) << r.err;
  const Track& track = tracks[1];
  const Bytes bytes = read_file(track.path);
  const std::vector<OggPageLayout> pages = ogg_page_layout(bytes);
  std::uint64_t covered = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(pages[i].sequence, i);
    EXPECT_EQ(pages[i].serial, pages[0].serial);
    EXPECT_EQ(pages[i].eos, i + 1 == pages.size());
    covered += pages[i].bytes;
  }
  EXPECT_EQ(covered, bytes.size());  // every page's CRC holds

  // Between its first pages and its last, the track holds the source's pages as they are.
  const std::vector<Bytes> source_bodies = page_bodies(read_file(long_source));
  const std::vector<Bytes> track_bodies = page_bodies(bytes);
  const auto kept = std::count_if(track_bodies.begin(), track_bodies.end(), [&](const Bytes& body) {
    return std::find(source_bodies.begin(), source_bodies.end(), body) != source_bodies.end();
  });
  ASSERT_GE(track_bodies.size(), 20u);
  EXPECT_GE(kept + 8, std::ptrdiff_t(track_bodies.size()));

  // A player seeks by the granule positions of those pages: it must land on the sample.
  for (const std::int64_t frame : {0, 1, 4095, 100000, 377777, 742643}) {
    SCOPED_TRACE(frame);
    const std::int64_t count = std::min<std::int64_t>(2000, track.end - track.first - frame);
    EXPECT_TRUE(decode_vorbis_after_seek(track.path, frame, count) == source.frames(track.first + frame, count));
  }
}

TEST(SplitOgg, SourcesWithTheirOwnTrimsOrALaterFirstGranule) {
  const DecodedVorbis original = decode_vorbis(fixture("ogg_cut_stereo44.ogg"));
  Tfold t;
  RunResult r;
  // Two tracks of our own: the first trims its end, the second its start.
  const auto halves = split(t, fixture("ogg_cut_stereo44.ogg"), {{0, 0}, {10, 5880}}, 88200, r);
  ASSERT_EQ(r.status, 0) << r.err;
  Bytes chain = read_file(halves[0].path);
  const Bytes second = read_file(halves[1].path);
  chain.insert(chain.end(), second.begin(), second.end());
  write_file(t / "rejoined.ogg", chain);
  write_file(t / "shifted.ogg", shift_granules(read_file(fixture("ogg_cut_stereo44.ogg")), 1000000));

  const struct {
    std::string source;
    std::vector<Break> breaks;
  } cases[] = {
      {halves[1].path, {{0, 0}, {7, 4116}, {50, 29400}}},
      // Across the link whose start is trimmed: 5880 is where the second link begins.
      {t / "rejoined.ogg", {{0, 0}, {5, 2940}, {15, 8820}}},
      {t / "shifted.ogg", {{0, 0}, {10, 5880}, {60, 35280}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    const DecodedVorbis source = decode_vorbis(c.source);
    ASSERT_TRUE(source.opened);
    Tfold run;
    const std::vector<Track> tracks = split(run, c.source, c.breaks, source.frames(), r);
    EXPECT_EQ(r.status, 0);
    for (const Track& track : tracks) expect_exact_track(source, track);
  }
  // The decoded timelines are the original's: the trims and the shift are not audio.
  EXPECT_TRUE(decode_vorbis(t / "rejoined.ogg").samples == original.samples);
  EXPECT_TRUE(decode_vorbis(t / "shifted.ogg").samples == original.samples);
}

TEST(SplitOgg, TrackInsideOnePacketFailsAlone) {
  // Samples 1764 to 2352 lie inside the packet of samples 1728 to 2752: no granule position
  // can trim both its head and its tail.
  Tfold t;
  RunResult r;
  const auto tracks = split(t, fixture("ogg_cut_stereo44.ogg"), {{0, 0}, {3, 1764}, {4, 2352}}, 88200, r);
  EXPECT_EQ(r.status, 5);
  EXPECT_NE(r.err.find("Cannot cut samples 1764 to 2352 of " + fixture("ogg_cut_stereo44.ogg").string() +
                       ": its 588 samples lie inside one Vorbis packet, which cannot carry both a "
                       "start and an end trim\n"),
            std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Could not write file " + tracks[1].path.string()), std::string::npos);
  EXPECT_FALSE(fs::exists(tracks[1].path));
  const DecodedVorbis source = decode_vorbis(fixture("ogg_cut_stereo44.ogg"));
  expect_exact_track(source, tracks[0]);
  expect_exact_track(source, tracks[2]);
}

TEST(SplitOgg, BytesAfterTheLastStreamAreNoAudio) {
  const Bytes good = read_file(fixture("ogg_cut_stereo44.ogg"));
  const auto pages = ogg_page_layout(good);
  // An ID3v1 tag, as some taggers append to any file; its last bytes hold an 'O', where libogg
  // waits for a header it never gets.
  Bytes tag = {'T', 'A', 'G'};
  for (const char c : std::string("Title of the tag, ending in O..")) tag.push_back(std::uint8_t(c));
  tag.resize(128, 'O');
  Bytes tagged = good;
  tagged.insert(tagged.end(), tag.begin(), tag.end());
  Bytes unfinished = slice(good, 0, pages.back().offset);
  unfinished.insert(unfinished.end(), tag.begin(), tag.end());
  const DecodedVorbis source = decode_vorbis(fixture("ogg_cut_stereo44.ogg"));

  Tfold t;
  write_file(t / "tagged.ogg", tagged);
  RunResult r;
  const auto tracks = split(t, t / "tagged.ogg", {{0, 0}, {25, 14700}, {50, 29400}}, source.frames(), r);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(occurrences(r.err, "WARNING"), 0u) << r.err;
  for (const Track& track : tracks) expect_exact_track(source, track);

  // Before the stream's end, the same bytes stand where pages are missing: the track that
  // reaches them fails, the one before is written.
  Tfold u;
  write_file(u / "unfinished.ogg", unfinished);
  const auto unfinished_tracks = split(u, u / "unfinished.ogg", {{0, 0}, {25, 14700}}, 0, r);
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(occurrences(r.err, "of " + (u / "unfinished.ogg") + ": damaged page or foreign data at byte " +
                                   std::to_string(pages.back().offset) + "; "), 1u) << r.err;
  expect_exact_track(source, {"t1", 0, 14700, unfinished_tracks[0].path});
  EXPECT_FALSE(fs::exists(unfinished_tracks[1].path));
}

}  // namespace
