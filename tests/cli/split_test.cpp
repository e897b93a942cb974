#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "cli/split_console.h"
#include "document/split_writer.h"
#include "support/file_size_limit.h"
#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

const std::string ESC = "\x1b";
const std::string CLEAR = "\r" + ESC + "[K";
constexpr std::size_t BLOCK = 2352;  // 16-bit stereo 44100 Hz

std::string question(const std::string& path) {
  return CLEAR + "File '" + path + "' exist, overwrite? ([y]es/[n]no/[a]ll/[s]kip all) ";
}

// The job's console output without its progress figures, which come as often as the module
// reports; every figure must be a well-formed in-place one.
std::string without_progress(const std::string& out) {
  return std::regex_replace(out, std::regex("\r" + ESC + "\\[K *[0-9]+ %"), "");
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A sandbox with a 100-block WAV of counting bytes, a break list and an output folder.
struct SplitCase {
  Tfold t;
  Bytes data = counting_bytes(100 * BLOCK);
  std::string audio = t / "show.wav";
  std::string breaks = t / "show.txt";
  std::string folder = t / "out";

  SplitCase() { fs::create_directory(folder); }
  void write_audio() const { write_file(audio, canonical_wav(2, 44100, 16, data)); }
  RunResult split(const std::string& list, const RunOptions& options = {}) const {
    write_audio();
    write_text(breaks, list);
    return t.run({"split", audio, breaks, folder}, options);
  }
  // The canonical WAV of the blocks [from, to) of the data; to 0: up to its end.
  Bytes track(std::size_t from, std::size_t to) const {
    const std::size_t end = to == 0 ? data.size() : to * BLOCK;
    return canonical_wav(2, 44100, 16, slice(data, from * BLOCK, end - from * BLOCK));
  }
  std::string out(const std::string& name) const { return folder + "/" + name; }
};

TEST(SplitCommand, TenTracksMatchTheirSlicesByteForByte) {
  SplitCase s;
  std::string list;
  for (int i = 0; i < 10; ++i) list += std::to_string(i * 10) + "=t" + std::to_string(i + 1) + "\n";
  const RunResult r = s.split(list);
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  const std::string head =
      "Using audio file: " + s.audio + "\nFile name:      " + s.audio +
      "\nFile format:    RIFF WAVE\nDuration:       00:00:01.333 (58800 samples)\n"
      "Format:         44100 Hz / 2 ch / 16 bit\nScanning audio file...\nFile analyzed, 101 blocks\n"
      "Using track break list: " + s.breaks + "\nTrack breaks:\n"
      " 1. [x]    0:00.00 -    0:00.10 \"t1\" (duration: 0:00.10)\n"
      " 2. [x]    0:00.10 -    0:00.20 \"t2\" (duration: 0:00.10)\n"
      " 3. [x]    0:00.20 -    0:00.30 \"t3\" (duration: 0:00.10)\n"
      " 4. [x]    0:00.30 -    0:00.40 \"t4\" (duration: 0:00.10)\n"
      " 5. [x]    0:00.40 -    0:00.50 \"t5\" (duration: 0:00.10)\n"
      " 6. [x]    0:00.50 -    0:00.60 \"t6\" (duration: 0:00.10)\n"
      " 7. [x]    0:00.60 -    0:00.70 \"t7\" (duration: 0:00.10)\n"
      " 8. [x]    0:00.70 -    0:01.05 \"t8\" (duration: 0:00.10)\n"
      " 9. [x]    0:01.05 -    0:01.15 \"t9\" (duration: 0:00.10)\n"
      "10. [x]    0:01.15 -    0:01.26 \"t10\" (duration: 0:00.11)\n"
      "\nUsing output folder: " + s.folder + "\n";
  ASSERT_EQ(r.out.substr(0, head.size()), head);
  std::string job;
  for (int i = 1; i <= 10; ++i) {
    job += (i == 1 ? "" : CLEAR) + "Split " + std::to_string(i) + "/10: " + s.out("t" + std::to_string(i) + ".wav") + "\n";
  }
  job += CLEAR + "Split finished.\n";
  EXPECT_EQ(without_progress(r.out.substr(head.size())), job);
  // Every track shows its figure at 0 and at 100 before the next one starts.
  EXPECT_EQ(occurrences(r.out, CLEAR + "100 %" + CLEAR + "Split "), 10u);
  EXPECT_EQ(r.err, "");

  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(read_file(s.out("t" + std::to_string(i + 1) + ".wav")),
              s.track(static_cast<std::size_t>(i) * 10, i == 9 ? 0 : static_cast<std::size_t>(i + 1) * 10));
  }
  EXPECT_EQ(listing(s.folder).size(), 10u);
}

TEST(SplitCommand, UnselectedBreakBoundsTheTrackBeforeIt) {
  SplitCase s;
  const RunResult r = s.split("0=a\n10\n20=b\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string tail = "Split 1/2: " + s.out("a.wav") + "\n" + CLEAR + "Split 2/2: " +
                           s.out("b.wav") + "\n" + CLEAR + "Split finished.\n";
  const std::string job = without_progress(r.out);
  EXPECT_EQ(job.substr(job.size() - std::min(job.size(), tail.size())), tail);
  EXPECT_NE(r.out.find(" 2. [_]    0:00.10 -    0:00.20 \"show-02\" (duration: 0:00.10)\n"), std::string::npos);
  EXPECT_EQ(read_file(s.out("a.wav")), s.track(0, 10));
  EXPECT_EQ(read_file(s.out("b.wav")), s.track(20, 0));
  EXPECT_EQ(listing(s.folder), (std::set<std::string>{"a.wav", "b.wav"}));
}

TEST(SplitCommand, ListSavedWithCrlfLineEndsNamesWithoutCarriageReturns) {
  SplitCase s;
  const RunResult r = s.split("0=Intro\r\n10\r\n20=Outro\r\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" 1. [x]    0:00.00 -    0:00.10 \"Intro\" (duration: 0:00.10)\n"), std::string::npos);
  EXPECT_EQ(read_file(s.out("Intro.wav")), s.track(0, 10));
  EXPECT_EQ(listing(s.folder), (std::set<std::string>{"Intro.wav", "Outro.wav"}));
}

TEST(SplitCommand, SingleBreakAtZeroCopiesAllTheAudio) {
  SplitCase s;
  const RunResult r = s.split("0=all\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(s.out("all.wav")), s.track(0, 0));
}

TEST(SplitCommand, EmptyListIsNoSplit) {
  SplitCase s;
  const RunResult r = s.split("; nothing to split\n");
  ASSERT_EQ(r.status, 3) << r.err;
  const std::string tail = "Using track break list: " + s.breaks + "\nno tracks in " + s.breaks + "\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  EXPECT_TRUE(listing(s.folder).empty());
}

TEST(SplitCommand, ExitStatuses) {
  SplitCase s;
  s.write_audio();
  write_text(s.breaks, "0=a\n");
  write_text(s.t / "plain-file", "not a folder");
  const std::string missing_audio = s.t / "missing.wav";
  const std::string missing_list = s.t / "missing.txt";
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string out_starts;  // the output begins with this
    std::string out_ends;    // and ends with this; with nothing between unless scanned
  };
  const std::string usage =
      "Usage: tfold split [audio_file.wav] [track_breaks.txt] [output_folder]\n"
      "Exit status: 0 every selected track written (or kept by the answer), 1 usage,\n"
      "2 audio file unreadable, 3 break list unreadable, 4 no output folder,\n"
      "5 a selected track could not be written.\n";
  const std::vector<Case> cases = {
      {"no arguments", {"split"}, 1, usage, ""},
      {"one argument", {"split", s.breaks}, 1, usage, ""},
      {"four arguments", {"split", s.audio, s.breaks, s.folder, s.folder}, 1, usage, ""},
      {"missing folder and audio", {"split", missing_audio, s.breaks, s.t / "nowhere"}, 4,
       "Directory does not exist: '" + s.t / "nowhere" + "'\n", ""},
      {"folder is a file", {"split", s.audio, s.breaks, s.t / "plain-file"}, 4,
       "Not a directory: '" + s.t / "plain-file" + "'\n", ""},
      {"missing audio", {"split", missing_audio, missing_list, s.folder}, 2,
       "Using audio file: " + missing_audio + "\nCould not open " + missing_audio +
           ": No such file or directory\n", ""},
      {"missing list after the scan", {"split", s.audio, missing_list, s.folder}, 3,
       "Using audio file: " + s.audio + "\n",
       "Scanning audio file...\nFile analyzed, 101 blocks\nUsing track break list: " + missing_list +
           "\nCould not open/parse " + missing_list + "\n"},
  };
  RunOptions by_name;
  by_name.invoke_by_name = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RunResult r = s.t.run(c.args, by_name);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out.substr(0, c.out_starts.size()), c.out_starts) << r.out;
    if (c.status != 3) {
      EXPECT_EQ(r.out, c.out_starts + c.out_ends);
    }
    ASSERT_GE(r.out.size(), c.out_ends.size());
    EXPECT_EQ(r.out.substr(r.out.size() - c.out_ends.size()), c.out_ends);
  }
  EXPECT_TRUE(listing(s.folder).empty());
}

TEST(SplitCommand, ExitStatusTellsWhetherEverySelectedTrackWasWritten) {
  struct Case {
    const char* what;
    std::string list;
    std::string input;  // answers; a.wav exists beforehand
    int status;
    std::set<std::string> folder;
  };
  // nodir/ does not exist in the output folder: a track there cannot be written.
  const std::vector<Case> cases = {
      {"all written", "0=a\n10=b\n", "y", 0, {"a.wav", "b.wav"}},
      {"one kept by the answer", "0=a\n10=b\n", "n", 0, {"a.wav", "b.wav"}},
      {"one failed", "0=a\n10=nodir/b\n", "y", 5, {"a.wav"}},
      {"all failed", "0=nodir/a\n10=nodir/b\n", "", 5, {"a.wav"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SplitCase s;
    write_text(s.out("a.wav"), "old");
    RunOptions options;
    options.input = c.input;
    const RunResult r = s.split(c.list, options);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(r.out.find(CLEAR + "Split finished.\n"), std::string::npos);
    EXPECT_EQ(listing(s.folder), c.folder);
  }
  SplitCase s;
  const RunResult help = s.t.run({"split", "--help"});
  EXPECT_NE(help.out.find("\n5 a selected track could not be written.\n"), std::string::npos) << help.out;
}

TEST(SplitCommand, NamesThatLeaveTheOutputFolderAreRefusedTrackByTrack) {
  SplitCase s;
  fs::create_directory(s.out("a"));
  fs::create_directory(s.out("sub"));
  const std::string absolute = s.t / "abs";
  const RunResult r = s.split("0=..\n10=../up\n20=a/../../deep\n30=" + absolute + "\n40=sub/inside\n50=ok\n");
  EXPECT_EQ(r.status, 5) << r.out << r.err;
  struct Refused {
    std::string name;
    std::string why;
  };
  const std::vector<Refused> refused = {
      {"..", "a '..' component can lead"},
      {"../up", "a '..' component can lead"},
      {"a/../../deep", "a '..' component can lead"},
      {absolute, "an absolute path leads"},
  };
  for (const Refused& t : refused) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(occurrences(r.err, ": Refusing track name '" + t.name + "' from the break list: " + t.why +
                                     " outside the output folder\n"),
              1u)
        << r.err;
    EXPECT_EQ(occurrences(r.err, ": Error writing file: " + s.folder + "/" + t.name + ".wav\n"), 1u);
  }
  EXPECT_EQ(occurrences(r.err, "WARNING **"), 8u) << r.err;
  EXPECT_EQ(occurrences(r.out, "exist, overwrite?"), 0u);
  // Nothing outside the output folder, the names inside it written as ever.
  EXPECT_EQ(listing(s.t.dir()), (std::set<std::string>{".config", ".home", "out", "show.txt", "show.wav"}));
  EXPECT_EQ(listing(s.folder), (std::set<std::string>{"a", "sub", "ok.wav"}));
  EXPECT_TRUE(fs::is_empty(s.out("a")));
  EXPECT_EQ(read_file(s.out("sub/inside.wav")), s.track(40, 50));
  EXPECT_EQ(read_file(s.out("ok.wav")), s.track(50, 0));
}

TEST(SplitCommand, TrailingSlashOnTheFolderIsKept) {
  SplitCase s;
  write_text(s.breaks, "0=a\n");
  s.write_audio();
  const RunResult r = s.t.run({"split", s.audio, s.breaks, s.folder + "/"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Split 1/1: " + s.folder + "//a.wav\n"), std::string::npos) << r.out;
  EXPECT_EQ(read_file(s.out("a.wav")), s.track(0, 0));
}

TEST(SplitCommand, ExtensionRules) {
  struct Case {
    const char* what;
    std::string audio_name;
    std::string folder_name;
    std::string track_name;
    std::string expected;  // relative to the run's folder
  };
  const std::vector<Case> cases = {
      {"upper-case extension kept", "Show.WAV", "out", "a", "out/a.WAV"},
      {"name holds it in its middle", "Show.WAV", "out", "a.WAV-1", "out/a.WAV-1.WAV"},
      {"name ends with it", "Show.WAV", "out", "a.WAV", "out/a.WAV"},
      {"folder holds it", "Show.WAV", "out.WAV", "a", "out.WAV/a.WAV"},
      {"no '.' in the source", "recording", "out", "a", "out/a.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SplitCase s;
    const std::string audio = s.t / c.audio_name;
    write_file(audio, canonical_wav(2, 44100, 16, s.data));
    fs::create_directory(s.t / c.folder_name);
    write_text(s.breaks, "0=" + c.track_name + "\n");
    const RunResult r = s.t.run({"split", audio, s.breaks, s.t / c.folder_name});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Split 1/1: " + s.t / c.expected + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(s.t / c.expected), s.track(0, 0));
  }
}

TEST(SplitCommand, AnswersForThreeExistingFiles) {
  struct Case {
    const char* what;
    std::optional<std::string> input;
    std::size_t questions;
    std::vector<bool> replaced;
  };
  const std::vector<Case> cases = {
      {"no, yes, yes", "nyy", 3, {false, true, true}},
      {"skip all", "s", 1, {false, false, false}},
      {"all", "a", 1, {true, true, true}},
      // Every Enter and the upper-case Y put the question again.
      {"mixed with Enter and Y", "n\nY\ny\ny\n", 7, {false, true, true}},
      {"end of input at the second question", "y", 2, {true, false, false}},
      {"closed input", std::nullopt, 1, {false, false, false}},
      {"empty input", "", 1, {false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SplitCase s;
    // Audio full of answer letters: a question that read the audio would answer "yes".
    s.data = Bytes(30 * BLOCK, 'y');
    for (const char* name : {"a.wav", "b.wav", "c.wav"}) write_text(s.out(name), "old");
    RunOptions options;
    options.input = c.input;
    const RunResult r = s.split("0=a\n10=b\n20=c\n", options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(occurrences(r.out, "exist, overwrite?"), c.questions);
    EXPECT_NE(r.out.find(question(s.out("a.wav"))), std::string::npos);
    EXPECT_NE(r.out.find(CLEAR + "Split finished.\n"), std::string::npos);
    const std::size_t starts[] = {0, 10, 20}, ends[] = {10, 20, 0};
    const char* names[] = {"a.wav", "b.wav", "c.wav"};
    for (std::size_t i = 0; i < 3; ++i) {
      SCOPED_TRACE(names[i]);
      if (c.replaced[i]) {
        EXPECT_EQ(read_file(s.out(names[i])), s.track(starts[i], ends[i]));
      } else {
        EXPECT_TRUE(read_text(s.out(names[i])) == "old");
      }
    }
    EXPECT_EQ(listing(s.folder), (std::set<std::string>{"a.wav", "b.wav", "c.wav"}));
  }
}

TEST(SplitCommand, ClosedInputNeverReadsTheAudioAsAnswers) {
  SplitCase s;
  s.data = Bytes(30 * BLOCK, 'y');
  write_text(s.out("b.wav"), "old");
  RunOptions closed;
  closed.input = std::nullopt;
  // Writing a leaves the audio's read position inside its letters when b is asked about.
  const RunResult r = s.split("0=a\n10=b\n", closed);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(occurrences(r.out, "exist, overwrite?"), 1u);
  EXPECT_EQ(read_file(s.out("a.wav")), s.track(0, 10));
  EXPECT_TRUE(read_text(s.out("b.wav")) == "old");
}

TEST(SplitCommand, RawCdAudioKeepsItsBytes) {
  Tfold t;
  const Bytes raw = counting_bytes(30 * BLOCK + 100);
  const std::string audio = t / "disc.cdda.raw";
  write_file(audio, raw);
  write_text(t / "disc.txt", "0=a\n10=b\n");
  fs::create_directory(t / "out");
  const RunResult r = t.run({"split", audio, t / "disc.txt", t / "out"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(t / "out/a.cdda.raw"), slice(raw, 0, 10 * BLOCK));
  EXPECT_EQ(read_file(t / "out/b.cdda.raw"), slice(raw, 10 * BLOCK, raw.size() - 10 * BLOCK));
  EXPECT_EQ(listing(t / "out"), (std::set<std::string>{"a.cdda.raw", "b.cdda.raw"}));
}

TEST(SplitCommand, FullDiskKeepsTheReplacedFile) {
  SplitCase s;
  s.write_audio();
  write_text(s.breaks, "0=a\n90=b\n");
  write_text(s.out("a.wav"), "old");
  RunResult r;
  {
    // Track a (90 blocks) cannot be written whole; track b (10 blocks) can.
    const FileSizeLimit limit(100000);
    RunOptions options;
    options.input = "a";
    r = s.t.run({"split", s.audio, s.breaks, s.folder}, options);
  }
  ASSERT_EQ(r.status, 5) << r.err;
  EXPECT_NE(r.err.find(": Could not write file " + s.out("a.wav") + "\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(": Error writing file: " + s.out("a.wav") + "\n"), std::string::npos);
  EXPECT_EQ(r.err.find("Could not write file " + s.out("b.wav")), std::string::npos);
  EXPECT_EQ(read_text(s.out("a.wav")), "old");
  EXPECT_EQ(read_file(s.out("b.wav")), s.track(90, 0));
  EXPECT_EQ(listing(s.folder), (std::set<std::string>{"a.wav", "b.wav"}));
}

TEST(SplitCommand, PathTooLongIsReportedAndTheJobGoesOn) {
  SplitCase s;
  const std::string long_name(300, 'n');
  const RunResult r = s.split("0=" + long_name + "\n10=b\n");
  ASSERT_EQ(r.status, 5) << r.err;
  EXPECT_NE(r.out.find("Split 1/2: " + s.out(long_name + ".wav") + "\n"), std::string::npos);
  EXPECT_NE(r.err.find(": Error writing file: " + s.out(long_name + ".wav") + "\n"), std::string::npos);
  EXPECT_EQ(read_file(s.out("b.wav")), s.track(10, 0));
  EXPECT_EQ(listing(s.folder), std::set<std::string>{"b.wav"});
}

struct QuestionCase {
  const char* what;
  std::string input;
  int answer;
  std::size_t questions;
  std::string left;  // what stays unread
};

TEST(ConsoleAskOverwrite, ReadsSingleLowerCaseLetters) {
  const std::vector<QuestionCase> cases = {
      {"yes", "y", OVERWRITE_YES, 1, ""},
      {"no", "n", OVERWRITE_NO, 1, ""},
      {"all", "a", OVERWRITE_ALL, 1, ""},
      {"skip all", "s", OVERWRITE_SKIP_ALL, 1, ""},
      {"line end left for later", "y\n", OVERWRITE_YES, 1, "\n"},
      {"line end, blank and capitals repeat", "\n YN?n", OVERWRITE_NO, 6, ""},
      {"end of input skips all", "", OVERWRITE_SKIP_ALL, 1, ""},
      {"end of input after other characters", "x\n", OVERWRITE_SKIP_ALL, 3, ""},
  };
  for (const QuestionCase& c : cases) {
    SCOPED_TRACE(c.what);
    // fmemopen refuses an empty buffer.
    std::FILE* in = c.input.empty() ? std::fopen("/dev/null", "r")
                                    : fmemopen(const_cast<char*>(c.input.data()), c.input.size(), "r");
    ASSERT_NE(in, nullptr);
    char* printed = nullptr;
    std::size_t printed_size = 0;
    std::FILE* out = open_memstream(&printed, &printed_size);
    EXPECT_EQ(console_ask_overwrite("out/a.wav", in, out), c.answer);
    std::fclose(out);
    std::string expected;
    for (std::size_t i = 0; i < c.questions; ++i) expected += question("out/a.wav");
    EXPECT_EQ(std::string(printed, printed_size), expected);
    std::free(printed);
    std::string left;
    for (int ch; (ch = std::fgetc(in)) != EOF;) left += static_cast<char>(ch);
    EXPECT_EQ(left, c.left);
    std::fclose(in);
  }
}

}  // namespace
