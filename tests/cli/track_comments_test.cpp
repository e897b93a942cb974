// The Vorbis comments of FLAC and Ogg tracks: a track keeps the source's comments but those
// that describe the whole source (its cue sheet, rip log, track gain and place in a set), with
// or without the break list's tags, and both formats agree on which those are.
#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

constexpr std::size_t BLOCK = 2352;  // 16-bit stereo 44100 Hz

// Fields of the whole source in several cases of name, between two that every track keeps.
const std::vector<std::string> SOURCE_COMMENTS = {
    "ARTIST=Source Artist",
    "CUESHEET=FILE \"show.wav\" WAVE",
    "Log=ripped twice, no errors",
    "REPLAYGAIN_TRACK_GAIN=-3.00 dB",
    "replaygain_track_peak=0.912",
    "TRACKNUMBER=7",
    "TrackTotal=12",
    "TOTALTRACKS=12",
    "REPLAYGAIN_ALBUM_GAIN=-2.00 dB",
};

// Titles only, so that the source's ARTIST is no field the tags replace.
const std::string SHEET =
    "FILE \"show.wav\" WAVE\n"
    "  TRACK 01 AUDIO\n"
    "    TITLE \"First\"\n"
    "    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n"
    "    TITLE \"Second\"\n"
    "    INDEX 01 00:00:30\n"
    "  TRACK 03 AUDIO\n"
    "    TITLE \"Third\"\n"
    "    INDEX 01 00:00:60\n";

// What a test tool prints on standard output; a tool that cannot run or fails fails the test.
std::string tool_output(const std::vector<std::string>& args) {
  std::vector<gchar*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<gchar*>(arg.c_str()));
  argv.push_back(nullptr);
  gchar* out = nullptr;
  gchar* err = nullptr;
  gint status = 0;
  const gboolean ran = g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr,
                                    &out, &err, &status, nullptr);
  EXPECT_TRUE(ran && g_spawn_check_wait_status(status, nullptr)) << args[0] << ": " << (err ? err : "");
  std::string text = out != nullptr ? out : "";
  g_free(out);
  g_free(err);
  return text;
}

// The source encoded by a format's own tools with the comments, and how to list a file's.
struct Format {
  const char* extension;
  std::vector<std::string> (*encode)(const std::string& wav, const std::string& out);
  std::vector<std::string> (*list)(const std::string& path);
};

std::vector<std::string> flac_encode(const std::string& wav, const std::string& out) {
  std::vector<std::string> args = {"flac", "-s", "-f", "-o", out};
  for (const std::string& comment : SOURCE_COMMENTS) args.insert(args.end(), {"-T", comment});
  args.push_back(wav);
  return args;
}

std::vector<std::string> flac_list(const std::string& path) {
  return {"metaflac", "--export-tags-to=-", path};
}

std::vector<std::string> ogg_encode(const std::string& wav, const std::string& out) {
  std::vector<std::string> args = {"oggenc", "-Q", "-o", out};
  for (const std::string& comment : SOURCE_COMMENTS) args.insert(args.end(), {"-c", comment});
  args.push_back(wav);
  return args;
}

std::vector<std::string> ogg_list(const std::string& path) { return {"vorbiscomment", "-l", path}; }

TEST(TrackComments, FlacAndOggTracksDropTheFieldsOfTheWholeSource) {
  const Format formats[] = {{".flac", flac_encode, flac_list}, {".ogg", ogg_encode, ogg_list}};
  struct Mode {
    const char* what;
    std::vector<std::string> options;
    std::string comments;  // of track 2
  };
  const Mode modes[] = {
      {"source comments only", {}, "ARTIST=Source Artist\nREPLAYGAIN_ALBUM_GAIN=-2.00 dB\n"},
      {"with the sheet's tags, whose track number and total are the list's", {"--tags"},
       "ARTIST=Source Artist\nREPLAYGAIN_ALBUM_GAIN=-2.00 dB\nTITLE=Second\nTRACKNUMBER=2\nTRACKTOTAL=3\n"},
  };
  for (const Format& format : formats) {
    Tfold t;
    write_file(t / "show.wav", canonical_wav(2, 44100, 16, counting_bytes(100 * BLOCK)));
    write_text(t / "show.cue", SHEET);
    const std::string source = t / (std::string("show") + format.extension);
    tool_output(format.encode(t / "show.wav", source));
    // The source carries every field: the tools wrote them as given.
    std::string all;
    for (const std::string& comment : SOURCE_COMMENTS) all += comment + "\n";
    ASSERT_EQ(tool_output(format.list(source)), all) << format.extension;
    for (const Mode& mode : modes) {
      SCOPED_TRACE(std::string(format.extension) + ", " + mode.what);
      const fs::path folder = t.dir() / (std::string("out") + (mode.options.empty() ? "" : "-tagged"));
      fs::create_directory(folder);
      std::vector<std::string> args = {"split", "--name-format=%n"};
      args.insert(args.end(), mode.options.begin(), mode.options.end());
      args.insert(args.end(), {source, t / "show.cue", folder.string()});
      const RunResult r = t.run(args);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      const std::string track = (folder / (std::string("02") + format.extension)).string();
      EXPECT_EQ(tool_output(format.list(track)), mode.comments);
    }
  }
}

}  // namespace
