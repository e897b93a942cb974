// A FLAC frame whose CRC fails costs only the track that holds it: the other tracks, also the
// one that begins right behind the damaged frame, are the clean source's samples, with
// tracks encoded anew and with tracks of copied frames alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/tools.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct SoundTrack {
  const char* name;
  std::uint64_t first, end;  // samples of the 48 kHz mono source
};

// Frame 60 of 4096 samples, [245760, 249856), fails its CRC. Track b holds it; c begins at
// block 391, sample 250240, inside the frame behind it.
TEST(DamagedFlac, AFrameWhoseCrcFailsFailsOnlyItsTrack) {
  const std::string source = fixture("flac_bad_crc.flac").string();
  const std::string offset = flac_frame_offset(fixture("flac_mono48.flac").string(), 60);
  const Bytes clean = wav_samples("flac_mono48.wav");
  const std::vector<SoundTrack> sound = {{"a.flac", 0, 48000}, {"c.flac", 250240, 288000}, {"d.flac", 288000, 480000}};
  // Read back with --verify, the tracks around the damage agree with the source as well.
  const std::vector<std::vector<std::string>> option_sets = {
      {}, {"--frame-copy"}, {"--verify"}, {"--frame-copy", "--verify"}};
  for (const std::vector<std::string>& options : option_sets) {
    SCOPED_TRACE(options.empty() ? "encoded anew" : options.front() + " " + options.back());
    Tfold tfold;
    TempDir scratch;
    fs::create_directory(tfold.dir() / "tracks");
    write_text(tfold / "breaks.txt", "0=a\n75=b\n391=c\n450=d\n");
    std::vector<std::string> args = {"split"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {source, "breaks.txt", "tracks"});
    const RunResult r = tfold.run(args);
    EXPECT_EQ(r.status, 5);
    const bool verify = options.size() > 0 && options.back() == "--verify";
    EXPECT_EQ(contains(r.out, "Verified 3 of 4 tracks\n"), verify) << r.out;
    EXPECT_EQ(listing(tfold.dir() / "tracks"), (std::set<std::string>{"a.flac", "c.flac", "d.flac"}));
    EXPECT_TRUE(contains(r.err, "Cannot write FLAC track tracks/b.flac from " + source +
                                    ": decoding stops at the source's frame at byte " + offset + ": frame CRC mismatch"))
        << r.err;
    EXPECT_TRUE(contains(r.err, "Error writing file: tracks/b.flac")) << r.err;
    for (const SoundTrack& track : sound) {
      SCOPED_TRACE(track.name);
      EXPECT_TRUE(flac_decoded((tfold.dir() / "tracks" / track.name).string(), scratch) ==
                  slice(clean, track.first * 2, (track.end - track.first) * 2));
    }
  }
}

// The analysis tells the damage once, with the file and the frame's offset, and counts the
// clean file's blocks.
TEST(DamagedFlac, AnalysisTellsTheDamagedFrameOnce) {
  const std::string source = fixture("flac_bad_crc.flac").string();
  const std::string offset = flac_frame_offset(fixture("flac_mono48.flac").string(), 60);
  Tfold tfold;
  const RunResult clean = tfold.run({"analyze", fixture("flac_mono48.flac").string()});
  const RunResult r = tfold.run({"analyze", source});
  EXPECT_EQ(r.status, 0);
  const std::string warning = "Error decoding FLAC file " + source + " after sample 245760: frame CRC mismatch at byte " +
                              offset + "; reading stops there";
  EXPECT_TRUE(contains(r.err, warning)) << r.err;
  EXPECT_EQ(r.err.find(warning), r.err.rfind(warning)) << r.err;
  EXPECT_TRUE(contains(r.out, "751 sample blocks analyzed")) << r.out;
  EXPECT_TRUE(contains(clean.out, "751 sample blocks analyzed")) << clean.out;
}

}  // namespace
