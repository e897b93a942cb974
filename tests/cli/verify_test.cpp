// split --verify end to end: every format and way of cutting passes its own check and writes
// the same bytes as without it; a track the writer's test seam damages fails alone, with its
// first differing sample, and the job exits 5.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

constexpr char SEAM[] = "TFOLD_TEST_CORRUPT_TRACK";

struct VerifyCase {
  const char* label;
  std::string source;                // a fixture's name, or a file the test makes
  std::vector<std::string> options;  // before --verify
  const char* extension;
};

void PrintTo(const VerifyCase& c, std::ostream* os) { *os << c.label; }

// Four tracks within the shortest fixture's two seconds, breaking inside MPEG frames, FLAC
// frames and Ogg pages.
constexpr char BREAKS[] = "0=one\n40=two\n97=three\n131=four\n";
const std::vector<std::string> NAMES = {"one", "two", "three", "four"};

// Seven seconds of CD audio whose every byte tells its place: a track that shifts shows.
Bytes cd_audio() { return counting_bytes(7 * 44100 * 4 + 4 * 37, 7); }

Bytes rf64_file() {
  const Bytes data = cd_audio();
  Bytes chunks;
  append_chunk(chunks, "ds64", ds64_contents(4 + 8 + 28 + 8 + 16 + 8 + data.size(), data.size(), data.size() / 4));
  append_chunk(chunks, "fmt ", pcm_fmt(2, 44100, 16));
  append_chunk_declared(chunks, "data", 0xFFFFFFFF, data);
  return rf64_wave(chunks);
}

// The source's path: a fixture, or the made-up recording written into the sandbox.
std::string source_path(const Tfold& tfold, const VerifyCase& c) {
  if (c.source == "made.cdda.raw") write_file(tfold / c.source, cd_audio());
  if (c.source == "made_rf64.wav") write_file(tfold / c.source, rf64_file());
  if (c.source.starts_with("made")) return tfold / c.source;
  return fixture(c.source).string();
}

RunResult split(const Tfold& tfold, const VerifyCase& c, const std::string& folder, bool verify,
                const std::map<std::string, std::string>& env = {}) {
  fs::create_directory(tfold.dir() / folder);
  std::vector<std::string> args = {"split"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  if (verify) args.push_back("--verify");
  args.insert(args.end(), {source_path(tfold, c), "breaks.txt", folder});
  RunOptions options;
  options.env = env;
  return tfold.run(args, options);
}

std::map<std::string, Bytes> files_in(const fs::path& folder) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::directory_iterator(folder)) files[entry.path().filename()] = read_file(entry.path());
  return files;
}

// A run's standard output with the output folder's name in common and without the progress
// figures, which come as often as the writer reports.
std::string comparable(const std::string& out, const std::string& folder) {
  const std::string named = std::regex_replace(out, std::regex(folder), "OUT");
  return std::regex_replace(named, std::regex("\r\x1b\\[K *[0-9]+ %"), "");
}

std::string last_line(const std::string& out) {
  const std::size_t end = out.find_last_not_of('\n');
  const std::size_t start = out.rfind('\n', end);
  return out.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

const std::vector<VerifyCase> CASES = {
    {"wav", "image.wav", {}, ".wav"},
    {"wav_tags", "image.wav", {"--tags"}, ".wav"},
    {"rf64", "made_rf64.wav", {}, ".wav"},
    {"cd_audio", "made.cdda.raw", {}, ".cdda.raw"},
    {"mp3_frames_cbr", "gapless_cbr128.mp3", {}, ".mp3"},
    {"mp3_frames_vbr_tags", "gapless_vbr.mp3", {"--tags"}, ".mp3"},
    {"mp2_frames", "mpeg_layer2.mp2", {}, ".mp2"},
    {"mp3_gapless", "gapless_cbr128.mp3", {"--gapless"}, ".mp3"},
    {"mp3_gapless_mono", "gapless_mono.mp3", {"--gapless"}, ".mp3"},
    {"ogg", "ogg_cut_stereo44.ogg", {}, ".ogg"},
    {"flac", "flac_stereo44.flac", {}, ".flac"},
    {"flac_24bit", "flac_stereo96_24.flac", {}, ".flac"},
    {"flac_frame_copy", "flac_stereo44.flac", {"--frame-copy"}, ".flac"},
    {"flac_frame_copy_24bit", "flac_stereo96_24.flac", {"--frame-copy"}, ".flac"},
};

class SplitVerify : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(SplitVerify, PassesAndWritesWhatThePlainSplitWrites) {
  const VerifyCase& c = GetParam();
  Tfold tfold;
  write_text(tfold / "breaks.txt", BREAKS);
  const RunResult plain = split(tfold, c, "plain", false);
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out.find("Verified"), std::string::npos);
  const RunResult verified = split(tfold, c, "verified", true);
  ASSERT_EQ(verified.status, 0) << verified.err;
  const std::map<std::string, Bytes> tracks = files_in(tfold.dir() / "plain");
  EXPECT_EQ(last_line(verified.out), "Verified " + std::to_string(tracks.size()) + " of " +
                                         std::to_string(tracks.size()) + " tracks");
  EXPECT_EQ(verified.err.find("Verification failed"), std::string::npos) << verified.err;
  // The plain run's output and the verified run's differ only by the summary line.
  EXPECT_EQ(comparable(verified.out.substr(0, verified.out.rfind("Verified")), "verified"),
            comparable(plain.out, "plain"));
  EXPECT_TRUE(files_in(tfold.dir() / "verified") == tracks);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, SplitVerify, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.label); });

struct SeamCase {
  VerifyCase split;
  // The message's sample where the test can know it from the layout alone; empty: any.
  std::string sample;
};

void PrintTo(const SeamCase& c, std::ostream* os) { *os << c.split.label; }

// Track two holds blocks 40 to 97, sample frames 23,520 to 57,036: 134,064 bytes. The seam
// flips the file's middle byte: behind a 44-byte WAV header, byte 67,010 of the samples, in
// frame 16,752; in raw CD audio, byte 67,032, the first of frame 16,758.
const std::vector<SeamCase> SEAM_CASES = {
    {{"wav", "image.wav", {}, ".wav"}, "16752"},
    {{"cd_audio", "made.cdda.raw", {}, ".cdda.raw"}, "16758"},
    {{"mp3_frames", "gapless_cbr128.mp3", {}, ".mp3"}, ""},
    {{"mp3_gapless", "gapless_cbr128.mp3", {"--gapless"}, ".mp3"}, ""},
    {{"ogg", "ogg_cut_stereo44.ogg", {}, ".ogg"}, ""},
    {{"flac", "flac_stereo44.flac", {}, ".flac"}, ""},
    {{"flac_frame_copy", "flac_stereo44.flac", {"--frame-copy"}, ".flac"}, ""},
};

class VerifySeam : public ::testing::TestWithParam<SeamCase> {};

TEST_P(VerifySeam, CatchesTheDamagedTrackAndWritesTheOthers) {
  const VerifyCase& c = GetParam().split;
  Tfold tfold;
  write_text(tfold / "breaks.txt", BREAKS);
  const std::map<std::string, std::string> env = {{SEAM, "2"}};
  // Without --verify the seam is never looked at.
  const RunResult plain = split(tfold, c, "plain", false, env);
  ASSERT_EQ(plain.status, 0) << plain.err;
  const RunResult r = split(tfold, c, "verified", true, env);
  EXPECT_EQ(r.status, 5);
  const std::string damaged = "verified/two" + std::string(c.extension);
  const std::string sample = GetParam().sample.empty() ? "[0-9]+" : GetParam().sample;
  EXPECT_TRUE(std::regex_search(
      r.err, std::regex("Verification failed for " + damaged + ": first difference at sample " + sample + "\n")))
      << r.err;
  EXPECT_EQ(last_line(r.out), "Verified 3 of 4 tracks");
  std::map<std::string, Bytes> expected = files_in(tfold.dir() / "plain");
  expected.erase("two" + std::string(c.extension));
  // Nothing under the damaged track's name, nor a temporary file left behind.
  EXPECT_TRUE(files_in(tfold.dir() / "verified") == expected);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, VerifySeam, ::testing::ValuesIn(SEAM_CASES),
                         [](const auto& info) { return std::string(info.param.split.label); });

TEST(SplitVerifyOption, IsListedInHelp) {
  Tfold tfold;
  const RunResult r = tfold.run({"split", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--verify"), std::string::npos) << r.out;
}

}  // namespace
