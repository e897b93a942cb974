// tfold detect through the binary, on the recordings of scripts/fixtures/detect.sh: every break
// inside its gap and no other, in every dressing and format; the lists it writes read back
// through list and split; an existing list is kept; a recording without gaps is one track.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "support/harness.h"

using namespace tfold_test;
namespace fs = std::filesystem;

namespace {

struct GapTruth {
  double sound_end;   // seconds: where a track's sound ends...
  double next_start;  // ...and where the next one's begins
};

std::vector<GapTruth> gap_truth() {
  std::ifstream in(fixture("detect_gaps.txt"));
  std::vector<GapTruth> gaps;
  for (GapTruth g; in >> g.sound_end >> g.next_start;) gaps.push_back(g);
  return gaps;
}

struct TxtBreak {
  std::uint64_t block;
  std::string name;
};

// The "OFFSET=NAME" lines of a TXT list.
std::vector<TxtBreak> txt_breaks(const std::string& text) {
  std::vector<TxtBreak> breaks;
  const std::regex line(R"(^(\d+)=(.*)$)");
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (std::regex_match(l, m, line)) breaks.push_back({std::stoull(m[1]), m[2]});
  }
  return breaks;
}

// No audible sound of either track cut off: the break lies in the gap, give or take 50 ms.
void expect_inside_gaps(const std::vector<TxtBreak>& breaks, const std::vector<std::size_t>& gaps) {
  const std::vector<GapTruth> truth = gap_truth();
  ASSERT_EQ(breaks.size(), gaps.size() + 1);
  EXPECT_EQ(breaks[0].block, 0u);
  for (std::size_t i = 0; i < gaps.size(); ++i) {
    const double at = static_cast<double>(breaks[i + 1].block) / 75.0;
    EXPECT_GE(at, truth[gaps[i]].sound_end - 0.05) << "break " << i + 1;
    EXPECT_LE(at, truth[gaps[i]].next_start + 0.05) << "break " << i + 1;
  }
}

TEST(Detect, FindsEveryBreakInsideItsGapOnEveryMediumAndFormat) {
  Tfold t;
  for (const char* medium : {"cd", "vinyl", "cassette", "quiet"}) {
    for (const char* extension : {"wav", "mp3", "flac"}) {
      const std::string name = std::string("detect_") + medium + "." + extension;
      SCOPED_TRACE(name);
      for (const std::vector<std::string>& options : {std::vector<std::string>{}, {"--tracks=4"}}) {
        std::vector<std::string> args = {"detect"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(fixture(name));
        const RunResult r = t.run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<TxtBreak> breaks = txt_breaks(r.out);
        expect_inside_gaps(breaks, {0, 1, 2});
        const std::string stem = std::string("detect_") + medium + "-0";
        for (std::size_t i = 0; i < breaks.size(); ++i) EXPECT_EQ(breaks[i].name, stem + std::to_string(i + 1));
        EXPECT_NE(r.err.find("Noise floor "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Analyzing... [DONE]\n"), std::string::npos) << r.err;
        EXPECT_TRUE(std::regex_search(r.err, std::regex(R"(Break 3 at \d+:\d\d\.\d\d: gap at \d+:\d\d\.\d\d, [\d.]+ s long, [\d.]+ dB deep, confidence [\d.]+\n)")))
            << r.err;
      }
    }
  }
}

TEST(Detect, ChoosesTheBestGapsForFewerTracksAndPlacesThemAsAsked) {
  Tfold t;
  struct Case {
    std::vector<std::string> options;
    std::vector<std::size_t> gaps;
  };
  // The 1.4-second gap is the weakest of the three.
  const std::vector<Case> cases = {
      {{"--tracks=3"}, {0, 2}},
      {{"--tracks=2"}, {2}},
      {{"--place=middle"}, {0, 1, 2}},
      {{"--threshold=-45"}, {0, 1, 2}},
      {{"--min-gap=1.8"}, {0, 2}},
      {{"--min-track=40"}, {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[0]);
    std::vector<std::string> args = {"detect"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(fixture("detect_vinyl.wav"));
    const RunResult r = t.run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    expect_inside_gaps(txt_breaks(r.out), c.gaps);
  }
  // Placed in the middle, breaks lie well away from the onsets.
  const std::vector<TxtBreak> middle = txt_breaks(t.run({"detect", "--place=middle", fixture("detect_cd.wav")}).out);
  const std::vector<TxtBreak> onset = txt_breaks(t.run({"detect", fixture("detect_cd.wav")}).out);
  ASSERT_EQ(middle.size(), 4u);
  ASSERT_EQ(onset.size(), 4u);
  EXPECT_LT(middle[3].block + 30, onset[3].block);
}

TEST(Detect, AThresholdAboveTheHissFindsNoGap) {
  Tfold t;
  const RunResult r = t.run({"detect", "--threshold=-60", fixture("detect_vinyl.wav")});
  EXPECT_EQ(r.status, 0) << r.err;
  expect_inside_gaps(txt_breaks(r.out), {});
}

TEST(Detect, ARecordingWithoutGapsIsOneTrackAndCannotMakeThree) {
  Tfold t;
  const RunResult one = t.run({"detect", fixture("detect_nogap.wav")});
  EXPECT_EQ(one.status, 0) << one.err;
  const std::vector<TxtBreak> breaks = txt_breaks(one.out);
  ASSERT_EQ(breaks.size(), 1u);
  EXPECT_EQ(breaks[0].name, "detect_nogap-01");

  const RunResult three = t.run({"detect", "--tracks=3", fixture("detect_nogap.wav"), "list.txt"});
  EXPECT_EQ(three.status, 5);
  EXPECT_NE(three.err.find("Found 1 of the 3 tracks asked for: 0 gaps could hold a break\n"), std::string::npos)
      << three.err;
  EXPECT_EQ(three.out, "");
  EXPECT_EQ(txt_breaks(read_text(t / "list.txt")).size(), 1u);
}

// Time codes as list prints them.
std::string shown(std::uint64_t block) {
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d.%02d", static_cast<int>(block / 4500),
                static_cast<int>(block / 75 % 60), static_cast<int>(block % 75));
  return text;
}

TEST(Detect, WritesEveryListFormatThatListReadsBack) {
  Tfold t;
  const std::string audio = fixture("detect_cassette.flac");
  const RunResult printed = t.run({"detect", audio});
  ASSERT_EQ(printed.status, 0);
  const std::vector<TxtBreak> breaks = txt_breaks(printed.out);
  ASSERT_EQ(breaks.size(), 4u);
  for (const char* name : {"found.txt", "found.cue", "found.toc"}) {
    SCOPED_TRACE(name);
    const RunResult r = t.run({"detect", audio, name});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    if (std::string(name) == "found.txt") {
      EXPECT_EQ(read_text(t / name), printed.out);
    }
    const RunResult listed = t.run({"list", name});
    ASSERT_EQ(listed.status, 0) << listed.out;
    for (std::size_t i = 0; i < breaks.size(); ++i) {
      EXPECT_NE(listed.out.find(" " + shown(breaks[i].block) + " - "), std::string::npos) << listed.out;
    }
    // Nothing left behind under a temporary name.
    for (const auto& entry : fs::directory_iterator(t.dir())) {
      EXPECT_EQ(entry.path().filename().string().find(".tfold-"), std::string::npos);
    }
  }
}

TEST(Detect, SplitWithTheWrittenListGivesTracksThatJoinBackToTheSource) {
  Tfold t;
  fs::create_directory(t.dir() / "out");
  const std::string audio = fixture("detect_cd.wav");
  ASSERT_EQ(t.run({"detect", audio, "breaks.txt"}).status, 0);
  const RunResult split = t.run({"split", audio, "breaks.txt", "out"});
  ASSERT_EQ(split.status, 0) << split.out << split.err;
  const Bytes source = read_file(audio);
  Bytes joined;
  for (int k = 1; k <= 4; ++k) {
    const Bytes track = read_file(t.dir() / "out" / ("detect_cd-0" + std::to_string(k) + ".wav"));
    ASSERT_GT(track.size(), 44u);
    joined.insert(joined.end(), track.begin() + 44, track.end());
  }
  EXPECT_TRUE(joined == slice(source, 44, source.size() - 44));
}

TEST(Detect, KeepsAnExistingList) {
  Tfold t;
  write_text(t / "mine.cue", "keep me\n");
  const RunResult r = t.run({"detect", fixture("detect_cd.wav"), "mine.cue"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "mine.cue exists: not replaced\n");
  EXPECT_EQ(read_text(t / "mine.cue"), "keep me\n");
}

TEST(Detect, RefusesBadUsageAndUnreadableAudio) {
  Tfold t;
  write_text(t / "noise.wav", "not audio at all");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;
  };
  const std::string audio = fixture("detect_cd.wav");
  const std::vector<Case> cases = {
      {{"detect"}, 1, "Usage: "},
      {{"detect", audio, "a.txt", "b.txt"}, 1, "Usage: "},
      {{"detect", "--tracks=0", audio}, 1, "--tracks must be 1 or more"},
      {{"detect", "--threshold=loud", audio}, 1, "--threshold must be auto or a level in dBFS"},
      {{"detect", "--threshold=6", audio}, 1, "--threshold must be auto or a level in dBFS"},
      {{"detect", "--min-gap=0", audio}, 1, "--min-gap must be above 0 seconds"},
      {{"detect", "--min-track=-1", audio}, 1, "--min-track must be 0 seconds or more"},
      {{"detect", "--place=end", audio}, 1, "--place must be onset or middle"},
      {{"detect", "missing.wav"}, 2, "Could not open missing.wav: No such file or directory\n"},
      {{"detect", "noise.wav"}, 2, "Could not open noise.wav: File format unknown/not supported\n"},
      {{"detect", audio, "no/such/folder/list.txt"}, 2, "no/such/folder/list.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const RunResult r = t.run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
