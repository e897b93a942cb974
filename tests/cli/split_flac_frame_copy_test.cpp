// split --frame-copy end to end: tracks of the source's own FLAC frames that decode, with
// libFLAC and with ffmpeg, to exactly the source's samples of their range, pass flac's MD5
// check, seek right and keep the source's subframes; a damaged frame fails its track only.
#include <gtest/gtest.h>
#include <glib.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "support/harness.h"
#include "support/tools.h"
#include "support/wav_builder.h"

using namespace tfold_test;
namespace fs = std::filesystem;

namespace {

// Each track as ffmpeg decodes it, all in one run: ffmpeg takes long to start.
std::vector<Bytes> ffmpeg_decoded(const std::vector<std::string>& tracks, const TempDir& scratch, unsigned bits) {
  std::vector<std::string> args = {"ffmpeg", "-v", "error", "-nostdin", "-y"};
  for (const std::string& track : tracks) args.insert(args.end(), {"-i", track});
  for (std::size_t k = 0; k < tracks.size(); ++k) {
    args.insert(args.end(), {"-map", std::to_string(k) + ":a", "-f", bits == 24 ? "s24le" : "s16le",
                             scratch / ("ffmpeg" + std::to_string(k) + ".raw")});
  }
  const ToolResult r = run_tool(args);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<Bytes> decoded;
  for (std::size_t k = 0; k < tracks.size(); ++k) {
    decoded.push_back(r.status == 0 ? read_file(scratch / ("ffmpeg" + std::to_string(k) + ".raw")) : Bytes());
  }
  return decoded;
}

struct FrameRow {
  std::uint64_t offset = 0;
  std::uint32_t block = 0;
};

// Every frame of a FLAC file as flac's analysis mode finds it: byte offset and block size.
std::vector<FrameRow> frames_of(const std::string& path, const TempDir& scratch) {
  const std::string analysis = scratch / "frames.ana";
  const ToolResult r = run_tool({"flac", "-a", "-s", "-f", "-o", analysis, path});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<FrameRow> rows;
  const std::regex row("^frame=[0-9]+\toffset=([0-9]+)\tbits=[0-9]+\tblocksize=([0-9]+)\t");
  const std::string text = read_text(analysis);
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    std::smatch m;
    const std::string line = text.substr(start, end - start);
    if (std::regex_search(line, m, row)) rows.push_back({std::stoull(m[1]), static_cast<std::uint32_t>(std::stoul(m[2]))});
  }
  return rows;
}

// The number after "label: " in a metaflac listing.
std::uint64_t listed_number(const std::string& listing, const std::string& label) {
  const std::size_t at = listing.find(label + ": ");
  if (at == std::string::npos) {
    ADD_FAILURE() << label << " missing in " << listing;
    return 0;
  }
  return std::stoull(listing.substr(at + label.size() + 2));
}

std::string metadata_listing(const std::string& track) { return run_tool({"metaflac", "--list", track}).out; }

bool contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

struct FrameCopyCase {
  const char* stem;
  std::uint32_t rate;
  unsigned bits;
  unsigned frame_bytes;
  std::string breaks;                  // in blocks of 1/75 second
  std::vector<std::uint64_t> bounds;   // the first sample of each track, then the end
  bool seek_table;
  // The block sizes the second track begins with, where its head is encoded anew.
  std::vector<std::uint32_t> second_head;
};

// ctest names a case by its fixture.
void PrintTo(const FrameCopyCase& c, std::ostream* os) { *os << c.stem; }

// Each track checked as a FLAC stream of exactly its samples made of the source's frames.
void check_track(const FrameCopyCase& c, std::size_t k, const std::string& track, const Bytes& source_pcm,
                 const std::vector<FrameRow>& source_frames, const std::string& source, const TempDir& scratch,
                 const Bytes& by_ffmpeg, bool longest) {
  SCOPED_TRACE(track);
  const std::uint64_t first = c.bounds[k], end = c.bounds[k + 1], samples = end - first;
  const Bytes expected = slice(source_pcm, first * c.frame_bytes, samples * c.frame_bytes);
  EXPECT_EQ(run_tool({"flac", "-t", "-s", track}).status, 0);
  EXPECT_TRUE(flac_decoded(track, scratch) == expected);
  EXPECT_TRUE(by_ffmpeg == expected);

  const std::string listing = metadata_listing(track);
  EXPECT_EQ(listed_number(listing, "total samples"), samples);
  const std::uint64_t min_block = listed_number(listing, "minimum blocksize");
  const std::uint64_t max_block = listed_number(listing, "maximum blocksize");
  EXPECT_EQ(listing.find("(SEEKTABLE)") != std::string::npos, c.seek_table) << listing;
  EXPECT_EQ(listing.find("(CUESHEET)"), std::string::npos) << listing;
  const std::vector<FrameRow> frames = frames_of(track, scratch);
  ASSERT_FALSE(frames.empty());
  EXPECT_GE(min_block, 16u);
  for (std::size_t f = 0; f < frames.size(); ++f) {
    EXPECT_LE(frames[f].block, max_block) << "frame " << f;
    if (f + 1 < frames.size()) {
      EXPECT_GE(frames[f].block, min_block) << "frame " << f;
    }
  }
  if (k == 1 && !c.second_head.empty()) {
    for (std::size_t f = 0; f < c.second_head.size(); ++f) EXPECT_EQ(frames[f].block, c.second_head[f]);
  }

  // Each seek point names a frame of the track: its first sample, its place after the first
  // frame and its block size; one at least every ten seconds.
  const std::regex point("point [0-9]+: sample_number=([0-9]+), stream_offset=([0-9]+), frame_samples=([0-9]+)");
  std::size_t points = 0;
  for (std::sregex_iterator it(listing.begin(), listing.end(), point), end_it; it != end_it; ++it, ++points) {
    const std::uint64_t sample = std::stoull((*it)[1]), offset = std::stoull((*it)[2]);
    std::uint64_t frame_sample = 0;
    std::size_t f = 0;
    while (f < frames.size() && frames[f].offset - frames[0].offset < offset) frame_sample += frames[f++].block;
    ASSERT_LT(f, frames.size()) << (*it).str();
    EXPECT_EQ(frames[f].offset - frames[0].offset, offset) << (*it).str();
    EXPECT_EQ(frame_sample, sample) << (*it).str();
    EXPECT_EQ(frames[f].block, std::stoull((*it)[3])) << (*it).str();
  }
  EXPECT_EQ(points, c.seek_table ? (samples + 10 * c.rate - 1) / (10 * c.rate) : 0u);

  // The source frame in the middle of the track: its subframes, past the longest header and
  // before the CRC-16, are in the track as they are.
  std::vector<std::size_t> inside;
  std::uint64_t frame_start = 0;
  for (std::size_t f = 0; f + 1 < source_frames.size(); ++f) {
    if (frame_start >= first && frame_start + source_frames[f].block <= end) inside.push_back(f);
    frame_start += source_frames[f].block;
  }
  if (inside.size() >= 3) {
    const std::size_t f = inside[inside.size() / 2];
    const std::uint64_t from = source_frames[f].offset + 16, to = source_frames[f + 1].offset - 2;
    EXPECT_TRUE(contains(read_file(track), slice(read_file(source), from, to - from))) << "source frame " << f;
  }

  // flac seeks within the longest track to the right samples.
  for (const std::uint64_t at : {samples / 3, samples / 2 + 1, samples - samples / 5}) {
    if (!longest) break;
    const std::uint64_t until = std::min(samples, at + 700);
    EXPECT_TRUE(flac_decoded(track, scratch, {.skip = at, .until = until}) ==
                slice(source_pcm, (first + at) * c.frame_bytes, (until - at) * c.frame_bytes)) << "skip " << at;
  }
}

const FrameCopyCase FRAME_COPY_CASES[] = {
    // 4096-sample blocks: no block of 1/75 second but 0 meets a frame within ten seconds.
    {"flac_stereo44", 44100, 16, 4, "0=t1\n1=t2\n2=t3\n75=t4\n749=t5\n", {0, 588, 1176, 44100, 440412, 441000}, true, {}},
    // Block 16 and block 32 begin with sample 20480, the first of frame 5.
    {"flac_stereo96_24", 96000, 24, 6, "0=t1\n1=t2\n2=t3\n16=t4\n75=t5\n749=t6\n",
     {0, 1280, 2560, 20480, 96000, 958720, 960000}, true, {}},
    {"flac_mono48", 48000, 16, 2, "0=t1\n1=t2\n2=t3\n32=t4\n75=t5\n749=t6\n",
     {0, 640, 1280, 20480, 48000, 479360, 480000}, true, {}},
    // Block 9 begins with frame 5 (sample 5760); no seek table in the source, none in the tracks.
    {"flac_stereo48_1152", 48000, 24, 6, "0=t1\n9=t2\n75=t3\n299=t4\n", {0, 5760, 48000, 191360, 192000}, false, {}},
    // Block 5 (sample 2940) lies 15 samples before frame 1: those join frame 1 in one frame.
    // 8000 / 75 samples a block; a track of almost 12 seconds has a second seek point.
    {"flac_stereo8", 8000, 16, 4, "0=t1\n1=t2\n", {0, 106, 96000}, true, {}},
    {"flac_mono44_2955", 44100, 16, 2, "0=t1\n5=t2\n75=t3\n224=t4\n", {0, 2940, 44100, 131712, 132300}, true, {2970}},
};

class SplitFlacFrameCopyTable : public testing::TestWithParam<FrameCopyCase> {};

TEST_P(SplitFlacFrameCopyTable, EveryTrackIsItsExactRangeOfTheSourcesFrames) {
  const FrameCopyCase& c = GetParam();
  Tfold tfold;
  TempDir scratch;
  fs::create_directory(tfold.dir() / "tracks");
  write_text(tfold / "breaks.txt", c.breaks);
  const std::string source = fixture(std::string(c.stem) + ".flac").string();
  const RunResult r = tfold.run({"split", "--frame-copy", source, "breaks.txt", "tracks"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const Bytes source_pcm = wav_samples(std::string(c.stem) + ".wav");
  const std::vector<FrameRow> source_frames = frames_of(source, scratch);
  const std::size_t count = c.bounds.size() - 1;
  std::size_t longest = 0;
  for (std::size_t k = 0; k < count; ++k) {
    if (c.bounds[k + 1] - c.bounds[k] > c.bounds[longest + 1] - c.bounds[longest]) longest = k;
  }
  std::vector<std::string> tracks;
  for (std::size_t k = 0; k < count; ++k) {
    tracks.push_back((tfold.dir() / "tracks" / ("t" + std::to_string(k + 1) + ".flac")).string());
  }
  const std::vector<Bytes> by_ffmpeg = ffmpeg_decoded(tracks, scratch, c.bits);
  for (std::size_t k = 0; k < count; ++k) {
    check_track(c, k, tracks[k], source_pcm, source_frames, source, scratch, by_ffmpeg[k], k == longest);
  }
  EXPECT_EQ(listing(tfold.dir() / "tracks").size(), count);
}

INSTANTIATE_TEST_SUITE_P(Sources, SplitFlacFrameCopyTable, testing::ValuesIn(FRAME_COPY_CASES),
                         [](const testing::TestParamInfo<FrameCopyCase>& info) { return std::string(info.param.stem); });

// The source's comments less those of the whole file, and its picture, as without the option.
TEST(SplitFlacFrameCopy, TracksKeepTheSourcesTagsAndPicture) {
  Tfold tfold;
  TempDir scratch;
  fs::create_directory(tfold.dir() / "tracks");
  write_text(tfold / "breaks.txt", "0=a\n100=b\n");
  const RunResult r = tfold.run({"split", "--frame-copy", fixture("flac_stereo44.flac").string(), "breaks.txt", "tracks"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"a.flac", "b.flac"}) {
    SCOPED_TRACE(name);
    const std::string track = (tfold.dir() / "tracks" / name).string();
    const std::string tags = run_tool({"metaflac", "--export-tags-to=-", track}).out;
    EXPECT_EQ(tags, "TITLE=Live at the Hall\nARTIST=The Band\nREPLAYGAIN_ALBUM_GAIN=-2.50 dB\n");
    const std::string picture = scratch / "picture.png";
    EXPECT_EQ(run_tool({"metaflac", "--export-picture-to=" + picture, track}).status, 0);
    EXPECT_TRUE(read_file(picture) == read_file(fixture("flac_cover.png")));
  }
}

// The signature covers samples as STREAMINFO lays them out at every depth (8-bit signed, 32
// bits, six channels of 24); streams behind an ID3v2 tag, under another name or without a
// stated length have their frames where the decoder finds them.
TEST(SplitFlacFrameCopy, DepthsChannelsAndDisguisedStreamsCopyExactly) {
  const struct {
    const char* source;
    const char* wav;
    unsigned frame_bytes;
    std::uint64_t second_track, end;  // in samples
  } cases[] = {
      {"flac_mono8bit.flac", "flac_mono8bit.wav", 1, 8820, 22050},
      {"flac_mono32.flac", "flac_mono32.wav", 4, 17640, 44100},
      {"flac_6ch24.flac", "flac_6ch24.wav", 18, 19200, 48000},
      {"flac_id3.flac", "flac_mono48.wav", 2, 19200, 480000},
      {"flac_named.wav", "flac_mono48.wav", 2, 19200, 480000},
      {"flac_unknown_length.flac", "flac_mono48.wav", 2, 19200, 480000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Tfold tfold;
    TempDir scratch;
    fs::create_directory(tfold.dir() / "tracks");
    write_text(tfold / "breaks.txt", "0=a\n30=b\n");
    const RunResult r = tfold.run({"split", "--frame-copy", fixture(c.source).string(), "breaks.txt", "tracks"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string extension = fs::path(c.source).extension();
    const Bytes source_pcm = wav_samples(c.wav);
    const bool eight_bits = c.frame_bytes == 1;
    const std::uint64_t bounds[] = {0, c.second_track, c.end};
    for (std::size_t k = 0; k < 2; ++k) {
      const std::string track = (tfold.dir() / "tracks" / ((k == 0 ? "a" : "b") + extension)).string();
      SCOPED_TRACE(track);
      EXPECT_EQ(run_tool({"flac", "-t", "-s", track}).status, 0);
      const Bytes expected = slice(source_pcm, bounds[k] * c.frame_bytes, (bounds[k + 1] - bounds[k]) * c.frame_bytes);
      // flac hands out 8-bit samples signed, WAV keeps them unsigned.
      Bytes decoded = flac_decoded(track, scratch);
      if (eight_bits) {
        for (std::uint8_t& sample : decoded) sample ^= 0x80;
      }
      EXPECT_TRUE(decoded == expected);
    }
  }
}

// A track of copied frames is a variable-blocksize stream whose frames give their first
// sample: split again, its pieces join to the same samples.
TEST(SplitFlacFrameCopy, AVariableBlocksizeSourceSplitsAgainExactly) {
  Tfold tfold;
  TempDir scratch;
  fs::create_directory(tfold.dir() / "first");
  fs::create_directory(tfold.dir() / "again");
  write_text(tfold / "first.txt", "0=a\n37=middle\n");
  write_text(tfold / "again.txt", "0=x\n1=y\n101=z\n");
  ASSERT_EQ(tfold.run({"split", "--frame-copy", fixture("flac_stereo96_24.flac").string(), "first.txt", "first"}).status, 0);
  const std::string middle = (tfold.dir() / "first" / "middle.flac").string();
  const RunResult r = tfold.run({"split", "--frame-copy", middle, "again.txt", "again"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Bytes source_pcm = wav_samples("flac_stereo96_24.wav");
  const std::uint64_t bounds[] = {37 * 1280, 38 * 1280, 138 * 1280, 960000};
  const char* const names[] = {"x.flac", "y.flac", "z.flac"};
  for (std::size_t k = 0; k < 3; ++k) {
    const std::string track = (tfold.dir() / "again" / names[k]).string();
    SCOPED_TRACE(track);
    EXPECT_EQ(run_tool({"flac", "-t", "-s", track}).status, 0);
    EXPECT_TRUE(flac_decoded(track, scratch) == slice(source_pcm, bounds[k] * 6, (bounds[k + 1] - bounds[k]) * 6));
  }
}

// A head of 12 samples (block 47 begins 12 samples before frame 6 of 4608-sample blocks)
// joins that frame, 4620 samples, more than the streamable subset allows at 44.1 kHz: two
// frames of 2310 then.
TEST(SplitFlacFrameCopy, AJoinedHeadLongerThanTheSubsetAllowsBecomesTwoFrames) {
  Tfold tfold;
  TempDir scratch;
  const Bytes source_pcm = wav_samples("flac_mono44_2955.wav");
  const std::string source = scratch / "blocks4608.flac";
  const ToolResult encoded = run_tool({"flac", "-s", "-f", "-b", "4608", "-o", source,
                                       fixture("flac_mono44_2955.wav").string()});
  ASSERT_EQ(encoded.status, 0) << encoded.err;
  fs::create_directory(tfold.dir() / "tracks");
  write_text(tfold / "breaks.txt", "0=a\n47=b\n");
  const RunResult r = tfold.run({"split", "--frame-copy", source, "breaks.txt", "tracks"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string track = (tfold.dir() / "tracks" / "b.flac").string();
  const std::vector<FrameRow> frames = frames_of(track, scratch);
  ASSERT_GE(frames.size(), 3u);
  EXPECT_EQ(frames[0].block, 2310u);
  EXPECT_EQ(frames[1].block, 2310u);
  EXPECT_EQ(frames[2].block, 4608u);
  EXPECT_EQ(listed_number(metadata_listing(track), "maximum blocksize"), 4608u);
  EXPECT_EQ(run_tool({"flac", "-t", "-s", track}).status, 0);
  EXPECT_TRUE(flac_decoded(track, scratch) == slice(source_pcm, 27636 * 2, (132300 - 27636) * 2));
}

// A frame whose CRC-16 does not match fails the track that holds it, naming the frame's byte
// offset; the tracks before and after it are written.
TEST(SplitFlacFrameCopy, ADamagedFrameFailsOnlyItsTrackNamingItsOffset) {
  Tfold tfold;
  TempDir scratch;
  fs::create_directory(tfold.dir() / "tracks");
  write_text(tfold / "breaks.txt", "0=a\n75=b\n450=c\n");
  const std::string source = fixture("flac_bad_crc.flac").string();
  const RunResult r = tfold.run({"split", "--frame-copy", source, "breaks.txt", "tracks"});
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(listing(tfold.dir() / "tracks"), (std::set<std::string>{"a.flac", "c.flac"}));
  // The damage is in frame 60, where the intact stream has it.
  const std::string offset = std::to_string(frames_of(fixture("flac_mono48.flac").string(), scratch).at(60).offset);
  EXPECT_NE(r.err.find("Cannot write FLAC track tracks/b.flac from " + source +
                       ": decoding stops at the source's frame at byte " + offset + ": frame CRC mismatch"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Error writing file: tracks/b.flac"), std::string::npos) << r.err;
  for (const char* name : {"a.flac", "c.flac"}) {
    EXPECT_EQ(run_tool({"flac", "-t", "-s", (tfold.dir() / "tracks" / name).string()}).status, 0) << name;
  }
}

// libFLAC keeps such a block without its comments at the length it states; a track's comment
// block is counted anew, with the option and without it (found by fuzzing).
TEST(SplitFlacFrameCopy, ACommentThatOverrunsItsBlockStillGivesReadableTracks) {
  for (const bool frame_copy : {false, true}) {
    SCOPED_TRACE(frame_copy ? "--frame-copy" : "encoded anew");
    Tfold tfold;
    TempDir scratch;
    fs::create_directory(tfold.dir() / "tracks");
    write_text(tfold / "breaks.txt", "0=a\n75=b\n");
    std::vector<std::string> args = {"split", fixture("flac_comment_overrun.flac").string(), "breaks.txt", "tracks"};
    if (frame_copy) args.insert(args.begin() + 1, "--frame-copy");
    const RunResult r = tfold.run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string track = (tfold.dir() / "tracks" / "b.flac").string();
    EXPECT_EQ(run_tool({"flac", "-t", "-s", track}).status, 0);
    EXPECT_EQ(run_tool({"metaflac", "--export-tags-to=-", track}).out, "");
    EXPECT_TRUE(flac_decoded(track, scratch) == slice(wav_samples("flac_stereo44.wav"), 44100 * 4, 396900 * 4));
  }
}

TEST(SplitFlacFrameCopy, OtherFormatsAreAUsageErrorNamingFlac) {
  const struct {
    const char* fixture;
    const char* format;
  } cases[] = {{"flac_mono48.wav", "RIFF WAVE"}, {"gapless_cbr128.mp3", "MPEG Audio Layer I/II/III"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    Tfold tfold;
    fs::create_directory(tfold.dir() / "tracks");
    write_text(tfold / "breaks.txt", "0=a\n75=b\n");
    const std::string source = fixture(c.fixture).string();
    const RunResult r = tfold.run({"split", "--frame-copy", source, "breaks.txt", "tracks"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "--frame-copy applies to FLAC sources only; " + source + " is " + c.format + "\n");
    EXPECT_TRUE(listing(tfold.dir() / "tracks").empty());
  }
}

}  // namespace
