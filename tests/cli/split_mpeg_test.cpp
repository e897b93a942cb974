// Splitting MPEG audio end to end: whole frames copied, none lost or doubled between tracks.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/harness.h"

using namespace tfold_test;
namespace fs = std::filesystem;

namespace {

Bytes concatenated(const std::vector<fs::path>& files) {
  Bytes all;
  for (const auto& file : files) {
    const Bytes part = read_file(file);
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

TEST(SplitMpeg, ConsecutiveTracksHoldEveryAudioFrameOnce) {
  const struct {
    const char* fixture;
    const char* extension;
    std::size_t info_frame_bytes;  // a leading Xing/Info frame carries no audio
  } cases[] = {
      {"mpeg_cbr128_plain.mp3", ".mp3", 0},  // MPEG-1 layer III
      {"mpeg_cbr128.mp3", ".mp3", 417},      // the same with lame's Info frame
      {"gapless_crc.mp3", ".mp3", 417},      // CRC-protected, the Info frame's tag still at 36
      {"mpeg_layer2.mp2", ".mp2", 0},        // MPEG-1 layer II
      {"mpeg_mono22.mp3", ".mp3", 0},        // MPEG-2 layer III
      {"mpeg_8k.mp3", ".mp3", 0},            // MPEG-2.5 layer III
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    Tfold tfold;
    fs::create_directory(tfold.dir() / "tracks");
    write_text(tfold / "breaks.txt", "0=one\n75=two\n150=three\n");
    const RunResult r = tfold.run({"split", fixture(c.fixture).string(), "breaks.txt", "tracks"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");  // a well-formed file gives no warning at all
    const std::string ext = c.extension;
    EXPECT_NE(r.out.find("Split 1/3: tracks/one" + ext + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Split 3/3: tracks/three" + ext + "\n"), std::string::npos) << r.out;

    const Bytes source = read_file(fixture(c.fixture));
    const Bytes tracks = concatenated({tfold.dir() / "tracks" / ("one" + ext),
                                       tfold.dir() / "tracks" / ("two" + ext),
                                       tfold.dir() / "tracks" / ("three" + ext)});
    EXPECT_EQ(tracks, slice(source, c.info_frame_bytes, source.size()));
    EXPECT_EQ(std::distance(fs::directory_iterator(tfold.dir() / "tracks"), fs::directory_iterator()), 3);
  }
}

TEST(SplitMpeg, FreeFormatStreamIsRefusedTrackByTrack) {
  Tfold tfold;
  fs::create_directory(tfold.dir() / "tracks");
  write_text(tfold / "breaks.txt", "0=one\n75=two\n");
  const RunResult r = tfold.run({"split", fixture("mpeg_free.mp3").string(), "breaks.txt", "tracks"});
  EXPECT_EQ(r.status, 5);
  for (const char* track : {"tracks/one.mp3", "tracks/two.mp3"}) {
    EXPECT_NE(r.err.find(std::string("Could not write file ") + track), std::string::npos) << r.err;
  }
  EXPECT_NE(r.err.find("free-format MPEG streams do not state their frame lengths"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(tfold.dir() / "tracks"));
}

}  // namespace
