// Splitting FLAC end to end: every track a valid FLAC stream of exactly its samples, judged by
// the flac tools, with the source's tags and picture; bad sources fail track by track.
#include <gtest/gtest.h>
#include <glib.h>

#include <filesystem>
#include <regex>

#include "support/harness.h"
#include "support/tools.h"
#include "support/wav_builder.h"

using namespace tfold_test;
namespace fs = std::filesystem;

namespace {

const char* const BREAKS = "0=t1\n1=t2\n2=t3\n75=t4\n151=t5\n701=t6\n";

TEST(SplitFlac, EveryTrackIsItsExactRangeAsAValidFlacStream) {
  const struct {
    const char* stem;
    unsigned frame_bytes;
    std::vector<std::uint64_t> bounds;  // the first sample of each track, then the end
    bool tagged;
  } cases[] = {
      {"flac_stereo44", 4, {0, 588, 1176, 44100, 88788, 412188, 441000}, true},
      {"flac_stereo96_24", 6, {0, 1280, 2560, 96000, 193280, 897280, 960000}, false},
      {"flac_mono48", 2, {0, 640, 1280, 48000, 96640, 448640, 480000}, false},
      // 8000 / 75 samples a block: each block starts at the sample its start rounds down to.
      {"flac_stereo8", 4, {0, 106, 213, 8000, 16106, 74773, 96000}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stem);
    Tfold tfold;
    TempDir scratch;
    fs::create_directory(tfold.dir() / "tracks");
    write_text(tfold / "breaks.txt", BREAKS);
    const std::string source = fixture(std::string(c.stem) + ".flac").string();
    const RunResult r = tfold.run({"split", source, "breaks.txt", "tracks"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // Announced one after another, whatever is written side by side.
    std::size_t position = 0;
    for (int k = 1; k <= 6; ++k) {
      const std::string line = "Split " + std::to_string(k) + "/6: tracks/t" + std::to_string(k) + ".flac\n";
      const std::size_t found = r.out.find(line, position);
      ASSERT_NE(found, std::string::npos) << line << r.out;
      position = found + line.size();
    }
    EXPECT_NE(r.out.find("Split finished.\n", position), std::string::npos) << r.out;

    const Bytes source_pcm = wav_samples(std::string(c.stem) + ".wav");
    for (std::size_t k = 0; k < 6; ++k) {
      const std::string track = (tfold.dir() / "tracks" / ("t" + std::to_string(k + 1) + ".flac")).string();
      SCOPED_TRACE(track);
      const std::uint64_t first = c.bounds[k], end = c.bounds[k + 1];
      EXPECT_EQ(run_tool({"flac", "-t", "-s", track}).status, 0);
      EXPECT_EQ(run_tool({"metaflac", "--show-total-samples", track}).out, std::to_string(end - first) + "\n");
      EXPECT_TRUE(flac_decoded(track, scratch) ==
                  slice(source_pcm, first * c.frame_bytes, (end - first) * c.frame_bytes));
      EXPECT_EQ(run_tool({"metaflac", "--list", "--block-type=CUESHEET", track}).out, "");
      if (!c.tagged) continue;
      const std::vector<std::string> tags = {"TITLE=Live at the Hall", "ARTIST=The Band",
                                             "REPLAYGAIN_ALBUM_GAIN=-2.50 dB"};
      EXPECT_EQ(lines_of(run_tool({"metaflac", "--export-tags-to=-", track}).out), tags);
      const std::string picture = scratch / "picture.png";
      EXPECT_EQ(run_tool({"metaflac", "--export-picture-to=" + picture, track}).status, 0);
      EXPECT_TRUE(read_file(picture) == read_file(fixture("flac_cover.png")));
    }
    EXPECT_EQ(listing(tfold.dir() / "tracks"),
              (std::set<std::string>{"t1.flac", "t2.flac", "t3.flac", "t4.flac", "t5.flac", "t6.flac"}));
  }
}

// With --tags, the source's fields stay in their order, less those of the whole file (CUESHEET,
// LOG, REPLAYGAIN_TRACK_*) and those the sheet gives, whose fields follow; the audio is what
// the untagged track holds.
TEST(SplitFlac, TagsKeepTheSourcesFieldsAndTakeTheSheets) {
  Tfold tfold;
  TempDir scratch;
  write_text(tfold / "show.cue",
             "REM DATE 1999\n"
             "PERFORMER \"Guest Band\"\n"
             "TITLE \"Album Title\"\n"
             "FILE \"show.flac\" WAVE\n"
             "  TRACK 01 AUDIO\n"
             "    TITLE \"Intro\"\n"
             "    INDEX 01 00:00:00\n"
             "  TRACK 02 AUDIO\n"
             "    INDEX 01 00:05:00\n");
  fs::create_directory(tfold.dir() / "plain");
  fs::create_directory(tfold.dir() / "tagged");
  const std::string source = fixture("flac_stereo44.flac").string();
  ASSERT_EQ(tfold.run({"split", "--name-format=%n", source, "show.cue", "plain"}).status, 0);
  const RunResult r = tfold.run({"split", "--name-format=%n", "--tags", source, "show.cue", "tagged"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const struct {
    const char* name;
    std::vector<std::string> tags;
  } cases[] = {
      {"01.flac",
       {"REPLAYGAIN_ALBUM_GAIN=-2.50 dB", "TITLE=Intro", "ARTIST=Guest Band", "ALBUM=Album Title",
        "TRACKNUMBER=1", "TRACKTOTAL=2", "DATE=1999"}},
      {"02.flac",
       {"TITLE=Live at the Hall", "REPLAYGAIN_ALBUM_GAIN=-2.50 dB", "ARTIST=Guest Band",
        "ALBUM=Album Title", "TRACKNUMBER=2", "TRACKTOTAL=2", "DATE=1999"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string tagged = (tfold.dir() / "tagged" / c.name).string();
    EXPECT_EQ(lines_of(run_tool({"metaflac", "--export-tags-to=-", tagged}).out), c.tags);
    EXPECT_EQ(run_tool({"flac", "-t", "-s", tagged}).status, 0);
    EXPECT_TRUE(flac_decoded(tagged, scratch) ==
                flac_decoded((tfold.dir() / "plain" / c.name).string(), scratch));
  }
}

TEST(SplitFlac, DepthsAndChannelsAtTheEdgesSplitExactly) {
  const struct {
    const char* stem;
    unsigned frame_bytes;
    std::uint64_t second_track, end;  // in samples
  } cases[] = {
      {"flac_mono8bit", 1, 8820, 22050},
      {"flac_mono32", 4, 17640, 44100},
      {"flac_6ch24", 18, 19200, 48000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stem);
    Tfold tfold;
    TempDir scratch;
    fs::create_directory(tfold.dir() / "tracks");
    write_text(tfold / "breaks.txt", "0=a\n30=b\n");
    const RunResult r =
        tfold.run({"split", fixture(std::string(c.stem) + ".flac").string(), "breaks.txt", "tracks"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const Bytes source_pcm = wav_samples(std::string(c.stem) + ".wav");
    const bool eight_bits = c.frame_bytes == 1;
    EXPECT_TRUE(flac_decoded((tfold.dir() / "tracks" / "a.flac").string(), scratch, {.unsigned_samples = eight_bits}) ==
                slice(source_pcm, 0, c.second_track * c.frame_bytes));
    EXPECT_TRUE(flac_decoded((tfold.dir() / "tracks" / "b.flac").string(), scratch, {.unsigned_samples = eight_bits}) ==
                slice(source_pcm, c.second_track * c.frame_bytes, (c.end - c.second_track) * c.frame_bytes));
  }
}

TEST(SplitFlac, TrackHasASeekPointEveryTenSecondsAndPadding) {
  Tfold tfold;
  fs::create_directory(tfold.dir() / "tracks");
  write_text(tfold / "breaks.txt", "0=whole\n");
  const RunResult r = tfold.run({"split", fixture("flac_stereo8.flac").string(), "breaks.txt", "tracks"});
  ASSERT_EQ(r.status, 0);
  const std::string track = (tfold.dir() / "tracks" / "whole.flac").string();
  const std::string seek_table = run_tool({"metaflac", "--list", "--block-type=SEEKTABLE", track}).out;
  EXPECT_NE(seek_table.find("seek points: 2\n"), std::string::npos) << seek_table;
  EXPECT_NE(seek_table.find("point 0: sample_number=0,"), std::string::npos) << seek_table;
  // A point names the first sample of the frame that holds its target, 80000.
  EXPECT_NE(seek_table.find("point 1: sample_number=77824,"), std::string::npos) << seek_table;
  const std::string padding = run_tool({"metaflac", "--list", "--block-type=PADDING", track}).out;
  EXPECT_NE(padding.find("length: 4096\n"), std::string::npos) << padding;
}

TEST(SplitFlac, InfoAndAnalyzeGiveTheFiguresOfTheSameWav) {
  for (const char* stem : {"flac_stereo44", "flac_stereo96_24", "flac_stereo8"}) {
    SCOPED_TRACE(stem);
    Tfold tfold;
    const std::string flac = fixture(std::string(stem) + ".flac").string();
    const std::string wav = fixture(std::string(stem) + ".wav").string();
    const std::vector<std::string> flac_info = lines_of(tfold.run({"info", flac}).out);
    const std::vector<std::string> wav_info = lines_of(tfold.run({"info", wav}).out);
    ASSERT_EQ(flac_info.size(), 6u);
    ASSERT_EQ(wav_info.size(), 5u);
    EXPECT_EQ(flac_info[1], "File format:    FLAC");
    EXPECT_EQ(flac_info[2].rfind("Format details: reference libFLAC ", 0), 0u) << flac_info[2];
    EXPECT_EQ(flac_info[3], wav_info[2]);  // duration and samples
    EXPECT_EQ(flac_info[4], wav_info[3]);  // rate, channels, bits

    const std::regex blocks("\n([0-9]+) sample blocks analyzed in ");
    std::smatch flac_blocks, wav_blocks;
    const RunResult flac_run = tfold.run({"analyze", flac});
    const RunResult wav_run = tfold.run({"analyze", wav});
    EXPECT_EQ(flac_run.status, 0);
    ASSERT_TRUE(std::regex_search(flac_run.out, flac_blocks, blocks)) << flac_run.out;
    ASSERT_TRUE(std::regex_search(wav_run.out, wav_blocks, blocks)) << wav_run.out;
    EXPECT_EQ(flac_blocks[1], wav_blocks[1]);
  }
}

// A source that breaks off: the tracks before the damage are written, the one that meets it
// fails with a warning that names the source and the cause, and no partial file is left.
TEST(SplitFlac, BadSourcesFailTheTracksTheyReach) {
  const struct {
    const char* fixture;
    const char* breaks;
    std::set<std::string> written;
    const char* failed;
    const char* cause;
  } cases[] = {
      {"flac_truncated.flac", "0=a\n75=b\n300=c\n", {"a.flac", "b.flac"}, "c",
       "the stream ends inside a frame: the file is truncated"},
      {"flac_damaged.flac", "0=a\n75=b\n", {"a.flac"}, "b", "lost sync"},
      // The signature covers the whole stream: a track of all of it finds the mismatch.
      {"flac_bad_md5.flac", "0=all\n", {}, "all", "fails its MD5 check"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    Tfold tfold;
    fs::create_directory(tfold.dir() / "tracks");
    write_text(tfold / "breaks.txt", c.breaks);
    const std::string source = fixture(c.fixture).string();
    const RunResult r = tfold.run({"split", source, "breaks.txt", "tracks"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(listing(tfold.dir() / "tracks"), c.written);
    const std::string failed = std::string("tracks/") + c.failed + ".flac";
    EXPECT_NE(r.err.find("Error writing file: " + failed), std::string::npos) << r.err;
    // Messages name the track's final path, never the temporary file it is written into.
    EXPECT_EQ(r.err.find(".tfold-"), std::string::npos) << r.err;
    bool named = false;
    for (const std::string& line : lines_of(r.err)) {
      named = named || (line.find(source) != std::string::npos && line.find(c.cause) != std::string::npos);
    }
    EXPECT_TRUE(named) << r.err;
    for (const std::string& track : c.written) {
      EXPECT_EQ(run_tool({"flac", "-t", "-s", (tfold.dir() / "tracks" / track).string()}).status, 0);
    }
  }
}

TEST(SplitFlac, FlacStreamsAreFoundWhateverTheirName) {
  Tfold tfold;
  TempDir scratch;
  fs::create_directory(tfold.dir() / "tracks");
  write_text(tfold / "breaks.txt", "0=a\n75=b\n");
  const Bytes source_pcm = wav_samples("flac_mono48.wav");
  // A WAV name, an ID3v2 tag in front, a stream that does not state its length.
  for (const char* name : {"flac_named.wav", "flac_id3.flac", "flac_unknown_length.flac"}) {
    SCOPED_TRACE(name);
    const std::string source = fixture(name).string();
    const RunResult info = tfold.run({"info", source});
    EXPECT_NE(info.out.find("File format:    FLAC\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Duration:       00:00:10.000 (480000 samples)\n"), std::string::npos);
    fs::remove_all(tfold.dir() / "tracks");
    fs::create_directory(tfold.dir() / "tracks");
    const RunResult r = tfold.run({"split", source, "breaks.txt", "tracks"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // Tracks take the source's extension, whatever holds them.
    const std::string extension = fs::path(name).extension();
    const std::string second = (tfold.dir() / "tracks" / ("b" + extension)).string();
    EXPECT_EQ(run_tool({"flac", "-t", "-s", second}).status, 0);
    EXPECT_TRUE(flac_decoded(second, scratch) == slice(source_pcm, 48000 * 2, 432000 * 2));
  }
}

// Tracks written ahead of their turn never take the place of a question.
TEST(SplitFlac, ExistingFilesAreAskedAboutInTurn) {
  Tfold tfold;
  TempDir scratch;
  fs::create_directory(tfold.dir() / "tracks");
  write_text(tfold.dir() / "tracks" / "c.flac", "the user's own file");
  // The second "a" exists only once the first one is written.
  write_text(tfold / "breaks.txt", "0=a\n75=b\n151=c\n300=d\n400=a\n");
  RunOptions options;
  options.input = "ny";
  const RunResult r = tfold.run({"split", fixture("flac_mono48.flac").string(), "breaks.txt", "tracks"}, options);
  EXPECT_EQ(r.status, 0);
  const std::size_t third = r.out.find("Split 3/5: tracks/c.flac\n");
  const std::size_t ask_c = r.out.find("File 'tracks/c.flac' exist, overwrite?");
  const std::size_t fourth = r.out.find("Split 4/5: tracks/d.flac\n");
  const std::size_t fifth = r.out.find("Split 5/5: tracks/a.flac\n");
  const std::size_t ask_a = r.out.find("File 'tracks/a.flac' exist, overwrite?");
  EXPECT_TRUE(third < ask_c && ask_c < fourth && fourth < fifth && fifth < ask_a &&
              ask_a != std::string::npos)
      << r.out;
  EXPECT_EQ(read_text(tfold.dir() / "tracks" / "c.flac"), "the user's own file");
  const Bytes source_pcm = wav_samples("flac_mono48.wav");
  EXPECT_TRUE(flac_decoded((tfold.dir() / "tracks" / "a.flac").string(), scratch) ==
              slice(source_pcm, 256000 * 2, 224000 * 2));
  EXPECT_EQ(listing(tfold.dir() / "tracks"),
            (std::set<std::string>{"a.flac", "b.flac", "c.flac", "d.flac"}));
}

}  // namespace
