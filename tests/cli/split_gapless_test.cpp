// split --gapless end to end: each MP3 track, decoded alone by a gapless decoder, is exactly the
// source's decoded samples of its range, and its Info frame says so in a form decoders accept.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "formats/mpeg/mpeg_frame.h"
#include "formats/mpeg/mpeg_info_tag.h"
#include "formats/mpeg/mpeg_test_support.h"
#include "formats/tags/id3v2_size.h"
#include "support/file_size_limit.h"
#include "support/harness.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

const std::vector<std::uint64_t> BREAKS = {0, 1, 75, 76, 500};  // blocks; the last track runs to the end

struct GaplessCase {
  const char* fixture;
  std::uint32_t samples_per_frame;
  bool constant_bitrate;
  bool tags = false;  // with --tags: an ID3v2 tag first, the Info frame right behind it
};

const std::vector<GaplessCase> CASES = {
    {"gapless_cbr128.mp3", 1152, true}, {"gapless_vbr.mp3", 1152, false},
    {"gapless_mono.mp3", 1152, true},   {"gapless_mpeg2.mp3", 576, true},
    {"gapless_mpeg25.mp3", 576, true},  {"gapless_32k.mp3", 1152, true},
    {"gapless_crc.mp3", 1152, true},    {"gapless_plain.mp3", 1152, true},
    {"gapless_vbr.mp3", 1152, false, true},
};

std::string break_list() {
  std::string text;
  for (std::size_t k = 0; k < BREAKS.size(); ++k) text += std::to_string(BREAKS[k]) + "=t" + std::to_string(k) + "\n";
  return text;
}

// Interleaved 16-bit samples.
std::vector<std::int16_t> samples(const Bytes& pcm) {
  std::vector<std::int16_t> values(pcm.size() / 2);
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = static_cast<std::int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
  }
  return values;
}

// The audio frames after the Info frame, and whether they all share one bit rate besides the
// first (the reservoir frame, which has a rate of its own where it needs a larger frame).
struct FrameWalk {
  std::uint32_t frames = 0;
  bool one_rate = true;
};

FrameWalk walk_frames(const Bytes& track, std::size_t from) {
  FrameWalk walk;
  int rate = 0;
  while (from + 4 <= track.size()) {
    const auto header = mpeg_parse_frame_header(std::span(track).subspan(from, 4));
    if (!header || header->frame_bytes == 0) break;
    if (walk.frames == 1) rate = header->bitrate_kbps;
    if (walk.frames > 1 && header->bitrate_kbps != rate) walk.one_rate = false;
    ++walk.frames;
    from += header->frame_bytes;
  }
  EXPECT_EQ(from, track.size()) << "the track ends with a whole frame";
  return walk;
}

// long_track: a second or more, long enough for a variable bit rate to show.
void check_info_frame(const Bytes& track, const GaplessCase& c, std::uint64_t length, bool long_track) {
  const auto tag = mpeg_info_tag_parse(track);
  ASSERT_TRUE(tag) << "no Info frame";
  const auto header = mpeg_parse_frame_header(track);
  ASSERT_TRUE(header);
  const FrameWalk walk = walk_frames(track, header->frame_bytes);
  EXPECT_TRUE(tag->tag_crc_matches);
  EXPECT_EQ(tag->frames, walk.frames);
  EXPECT_EQ(tag->bytes, track.size());
  EXPECT_EQ(tag->music_length, track.size());
  EXPECT_EQ(tag->music_crc, mpeg_lame_crc(std::span(track).subspan(header->frame_bytes)));
  EXPECT_EQ(tag->encoder.substr(0, 4), "LAME");
  EXPECT_EQ(std::uint64_t{tag->delay} + tag->padding + length, std::uint64_t{walk.frames} * c.samples_per_frame);
  EXPECT_LE(tag->delay, 2880);  // what players accept
  EXPECT_GE(tag->padding, 529);  // the decoder's own delay, which the padding must cover
  EXPECT_EQ(tag->constant_bitrate, walk.one_rate);
  if (long_track) {
    EXPECT_EQ(tag->constant_bitrate, c.constant_bitrate);
  }
}

TEST(SplitGapless, TracksDecodeToExactlyTheSourceSamplesOfTheirRange) {
  for (const GaplessCase& c : CASES) {
    SCOPED_TRACE(std::string(c.fixture) + (c.tags ? " --tags" : ""));
    Tfold tfold;
    fs::create_directory(tfold.dir() / "tracks");
    write_text(tfold / "breaks.txt", break_list());
    std::vector<std::string> args = {"split", "--gapless", fixture(c.fixture).string(), "breaks.txt", "tracks"};
    if (c.tags) args.insert(args.begin() + 1, "--tags");
    const RunResult r = tfold.run(args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");

    auto source = mpeg_test::open_audio(fixture(c.fixture).string());
    ASSERT_TRUE(source);
    const std::vector<std::int16_t> reference = samples(mpeg_test::decode_all(*source));
    const std::uint32_t channels = source->si.channels;
    const std::uint64_t total = reference.size() / channels;
    for (std::size_t k = 0; k < BREAKS.size(); ++k) {
      SCOPED_TRACE("track " + std::to_string(k));
      const std::uint64_t first = BREAKS[k] * source->si.samplesPerSec / 75;
      const std::uint64_t end = k + 1 < BREAKS.size() ? BREAKS[k + 1] * source->si.samplesPerSec / 75 : total;
      const fs::path path = tfold.dir() / "tracks" / ("t" + std::to_string(k) + ".mp3");
      const Bytes bytes = read_file(path);
      const std::uint64_t id3_bytes = mpeg_id3v2_size(bytes);
      EXPECT_EQ(id3_bytes > 0, c.tags);
      if (c.tags) {
        const std::string title = "t" + std::to_string(k);
        const Bytes tag(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(id3_bytes));
        EXPECT_NE(std::search(tag.begin(), tag.end(), title.begin(), title.end()), tag.end()) << "title in the tag";
      }
      check_info_frame(Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(id3_bytes), bytes.end()), c, end - first,
                       end - first >= source->si.samplesPerSec);

      auto track = mpeg_test::open_audio(path.string());
      ASSERT_TRUE(track);
      const std::vector<std::int16_t> decoded = samples(mpeg_test::decode_all(*track));
      ASSERT_EQ(decoded.size() / channels, end - first);
      int worst = 0;
      for (std::size_t i = 0; i < decoded.size(); ++i) {
        worst = std::max(worst, std::abs(decoded[i] - reference[first * channels + i]));
      }
      EXPECT_LE(worst, 1) << "largest difference from the source's samples";
    }
  }
}

// A full disk in the middle of a gapless track: the track fails with the reason, the file it was
// to replace stays, and the next track is written as it would be without the limit.
TEST(SplitGapless, TrackThatDoesNotFitFailsWithTheReason) {
  Tfold tfold;
  write_text(tfold / "breaks.txt", "0=a\n500=b\n");
  for (const char* folder : {"whole", "out"}) fs::create_directory(tfold.dir() / folder);
  const std::string source = fixture("gapless_cbr128.mp3").string();
  ASSERT_EQ(tfold.run({"split", "--gapless", source, "breaks.txt", "whole"}).status, 0);
  const std::uint64_t limit = 60000;
  ASSERT_GT(fs::file_size(tfold.dir() / "whole" / "a.mp3"), limit);
  ASSERT_LT(fs::file_size(tfold.dir() / "whole" / "b.mp3"), limit);
  const std::string a = tfold / "out/a.mp3";
  write_text(a, "old");
  RunResult r;
  {
    const FileSizeLimit guard(limit);
    RunOptions options;
    options.input = "y";
    r = tfold.run({"split", "--gapless", source, "breaks.txt", "out"}, options);
  }
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_NE(r.err.find(": Error writing to file out/a.mp3: File too large\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(": Could not write file out/a.mp3\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(".tfold-"), std::string::npos) << r.err;
  EXPECT_EQ(read_text(a), "old");
  EXPECT_EQ(read_file(tfold.dir() / "out" / "b.mp3"), read_file(tfold.dir() / "whole" / "b.mp3"));
  EXPECT_EQ(std::distance(fs::directory_iterator(tfold.dir() / "out"), fs::directory_iterator()), 2);
}

TEST(SplitGapless, LayerTwoIsCutByFramesAfterOneWarning) {
  Tfold tfold;
  write_text(tfold / "breaks.txt", "0=a\n75=b\n150=c\n");
  for (const char* folder : {"plain", "gapless"}) fs::create_directory(tfold.dir() / folder);
  const std::string source = fixture("mpeg_layer2.mp2").string();
  ASSERT_EQ(tfold.run({"split", source, "breaks.txt", "plain"}).status, 0);
  const RunResult r = tfold.run({"split", "--gapless", source, "breaks.txt", "gapless"});
  ASSERT_EQ(r.status, 0);
  const std::string warning = "Gapless tracks need MPEG layer III; " + source + " is cut at frame boundaries";
  const std::size_t at = r.err.find(warning);
  EXPECT_NE(at, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(warning, at + 1), std::string::npos) << "warned more than once";
  for (const char* name : {"a.mp2", "b.mp2", "c.mp2"}) {
    EXPECT_EQ(read_file(tfold.dir() / "gapless" / name), read_file(tfold.dir() / "plain" / name)) << name;
  }
}

}  // namespace
