// CD images as rippers leave them: the sheet embedded in the audio file, a sheet whose FILE
// line names the image before it was compressed, sheets in UTF-16.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/tools.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void copy_fixture(const Tfold& t, const std::string& name, const std::string& as = "") {
  fs::copy_file(fixture(name), t / (as.empty() ? name : as));
}

// The tracks of a split, by name, with their bytes.
std::vector<std::pair<std::string, Bytes>> tracks_in(const fs::path& folder) {
  std::vector<std::pair<std::string, Bytes>> tracks;
  for (const std::string& name : listing(folder)) tracks.emplace_back(name, read_file(folder / name));
  return tracks;
}

TEST(EmbeddedSheet, AnImageIsItsOwnBreakListAndCutsAsItsSeparateSheet) {
  for (const std::string image : {"image_block.flac", "image_comment.flac", "image_comment.ogg"}) {
    SCOPED_TRACE(image);
    Tfold t;
    copy_fixture(t, image);
    copy_fixture(t, "image_sheet.cue");
    fs::create_directory(t / "embedded");
    fs::create_directory(t / "separate");
    const RunResult embedded = t.run({"split", image, image, "embedded"});
    EXPECT_EQ(embedded.status, 0) << embedded.out << embedded.err;
    const RunResult separate = t.run({"split", image, "image_sheet.cue", "separate"});
    EXPECT_EQ(separate.status, 0) << separate.out << separate.err;
    const auto tracks = tracks_in(t / "embedded");
    EXPECT_EQ(tracks.size(), 3u);
    EXPECT_EQ(tracks, tracks_in(t / "separate"));
    // Every sheet starts track 2 at its INDEX 01, leaving the pregap to track 1.
    EXPECT_TRUE(contains(t.run({"list", image}).out,
                         " 2. [x]    0:04.00 -    0:08.37 \"image_" + fs::path(image).stem().string().substr(6) +
                             "-02\" (duration: 0:04.37)\n"));
  }
}

TEST(EmbeddedSheet, AnAudioFileWithoutASheetIsNoBreakList) {
  Tfold t;
  copy_fixture(t, "image_plain.flac");
  fs::create_directory(t / "o");
  const RunResult r = t.run({"split", "image_plain.flac", "image_plain.flac", "o"});
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_TRUE(contains(r.err, "no cue sheet in image_plain.flac")) << r.err;
  EXPECT_TRUE(listing(t / "o").empty());
  const RunResult listed = t.run({"list", "image_plain.flac"});
  EXPECT_EQ(listed.status, 2);
  EXPECT_TRUE(contains(listed.err, "no cue sheet in image_plain.flac")) << listed.err;
}

TEST(EmbeddedSheet, TracksKeepTheImagesAlbumTagsButNotItsLogSheetOrGain) {
  Tfold t;
  copy_fixture(t, "image_block.flac");
  fs::create_directory(t / "o");
  const RunResult r = t.run({"split", "--tags", "image_block.flac", "image_block.flac", "o"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> tags = lines_of(run_tool({"metaflac", "--export-tags-to=-", t / "o/image_block-02.flac"}).out);
  for (const std::string kept : {"ALBUM=The Album", "ARTIST=The Band", "DATE=1999", "TRACKNUMBER=2"}) {
    EXPECT_NE(std::find(tags.begin(), tags.end(), kept), tags.end()) << kept;
  }
  for (const std::string& tag : tags) {
    EXPECT_FALSE(tag.starts_with("LOG=") || tag.starts_with("CUESHEET=") || tag.starts_with("REPLAYGAIN_TRACK_"))
        << tag;
  }
  EXPECT_EQ(run_tool({"metaflac", "--list", "--block-type=CUESHEET", t / "o/image_block-02.flac"}).out, "");
}

struct TwoArgumentCase {
  const char* what;
  std::vector<std::string> files;  // fixtures copied beside album.cue, as name=fixture
  std::string sheet;
  int status;
  std::set<std::string> written;
  std::string said;  // on standard output or standard error
};

TEST(TwoArgumentSplit, TheSheetNamesTheAudioOrItsOneCompressedStandIn) {
  const std::string sheet = "FILE \"album.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                            "  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n";
  const std::string two_files = "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                "FILE \"b.wav\" WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n";
  const std::vector<TwoArgumentCase> cases = {
      {"the named file", {"album.wav=image.wav", "album.flac=image_plain.flac"}, sheet, 0,
       {"album-01.wav", "album-02.wav"}, "Using audio file: album.wav"},
      {"only the compressed image", {"album.flac=image_plain.flac", "album.log=image_sheet.cue"}, sheet, 0,
       {"album-01.flac", "album-02.flac"}, "album.cue names album.wav, which is not there; using album.flac"},
      {"two candidates", {"album.flac=image_plain.flac", "album.ogg=image_comment.ogg"}, sheet, 2, {},
       "Could not choose the audio file of album.cue: album.wav is not there, and each of album.flac, album.ogg "
       "could be it"},
      {"no candidate", {"album.wav.bak=image.wav"}, sheet, 2, {},
       "Could not find the audio file of album.cue: album.wav is not there"},
      {"one file per track", {"a.wav=image.wav", "b.wav=image.wav"}, two_files, 3, {},
       "album.cue names 2 audio files (a.wav, b.wav), one per track; split each with a list of its own"},
  };
  for (const TwoArgumentCase& c : cases) {
    SCOPED_TRACE(c.what);
    Tfold t;
    for (const std::string& file : c.files) {
      const std::size_t equals = file.find('=');
      copy_fixture(t, file.substr(equals + 1), file.substr(0, equals));
    }
    write_text(t / "album.cue", c.sheet);
    fs::create_directory(t / "o");
    const RunResult r = t.run({"split", "album.cue", "o"});
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_TRUE(contains(r.out + r.err, c.said)) << r.out << r.err;
    EXPECT_EQ(listing(t / "o"), c.written);
  }
}

TEST(TwoArgumentSplit, AnImageWithItsSheetNeedsNoOtherFile) {
  Tfold t;
  copy_fixture(t, "image_block.flac", "album.flac");
  fs::create_directory(t / "o");
  const RunResult r = t.run({"split", "album.flac", "o"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(listing(t / "o"), (std::set<std::string>{"album-01.flac", "album-02.flac", "album-03.flac"}));
}

// A sheet saved as UTF-16 with its byte-order mark, as some editors save it.
std::string utf16(const std::string& text, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char c : text) {
    out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  }
  return out;
}

TEST(UnicodeSheets, ASheetWithAByteOrderMarkIsReadWithAndWithoutOptions) {
  const std::string sheet = "FILE \"album.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n"
                            "  TRACK 02 AUDIO\n    TITLE \"Two\"\n    INDEX 01 00:04:00\n";
  for (const bool big_endian : {false, true}) {
    SCOPED_TRACE(big_endian ? "UTF-16BE" : "UTF-16LE");
    Tfold t;
    write_text(t / "album.cue", utf16(sheet, big_endian));
    const RunResult plain = t.run({"list", "album.cue"});
    EXPECT_EQ(plain.status, 0) << plain.err;
    EXPECT_TRUE(contains(plain.out, " 2. [x]    0:04.00 -      (end) \"album-02\"\n")) << plain.out;
    const RunResult named = t.run({"list", "--name-format=%n %t", "album.cue"});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(contains(named.out, " 2. [x]    0:04.00 -      (end) \"02 Two\"\n")) << named.out;
  }
}

}  // namespace
