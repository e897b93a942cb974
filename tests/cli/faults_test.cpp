// Faults and bad input through the binary: full disks, interruptions, inputs that vanish or
// shrink while they are read, folders where files belong, paths over the system's limits.
#include <gtest/gtest.h>

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "support/command_cases.h"
#include "support/file_size_limit.h"
#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

constexpr std::size_t BLOCK = 2352;  // 16-bit stereo 44100 Hz, and one CD frame
const std::string QUESTION_END = "([y]es/[n]no/[a]ll/[s]kip all) ";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The two warnings of a track that could not be written, as the split prints them.
void expect_write_failure(const RunResult& r, const std::string& path) {
  EXPECT_TRUE(contains(r.err, ": Could not write file " + path + "\n")) << r.err;
  EXPECT_TRUE(contains(r.err, ": Error writing file: " + path + "\n")) << r.err;
}

void expect_no_write_failure(const RunResult& r, const std::string& path) {
  EXPECT_FALSE(contains(r.err, "Could not write file " + path + "\n")) << r.err;
}

std::uint32_t le32(const Bytes& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// A WAV file is consistent when its header claims exactly the data bytes it holds.
void expect_honest_wav(const fs::path& path) {
  const Bytes bytes = read_file(path);
  ASSERT_GE(bytes.size(), 44u) << path;
  EXPECT_EQ(le32(bytes, 40), bytes.size() - 44) << path;
  EXPECT_EQ(le32(bytes, 4), bytes.size() - 8) << path;
}

// A file of the given size, all holes but for the bytes written into it.
void make_sparse(const fs::path& path, std::uint64_t size) {
  { std::ofstream create(path, std::ios::binary); }
  fs::resize_file(path, size);
}

void write_at(const fs::path& path, std::uint64_t offset, const Bytes& bytes) {
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(offset));
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write into " + path.string());
}

Bytes wav_header(std::uint32_t data_size) {
  Bytes header = canonical_wav(2, 44100, 16, {});
  for (int i = 0; i < 4; ++i) header[40 + i] = static_cast<std::uint8_t>(data_size >> (8 * i));
  const std::uint32_t riff = data_size > 0xFFFFFFFFu - 36 ? 0xFFFFFFFFu : data_size + 36;
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
  return header;
}

// ---- Full disk -------------------------------------------------------------------------------

struct FullDiskCase {
  const char* what;
  fs::path source;        // copied into the sandbox as show + extension
  std::string extension;  // of the source and so of its tracks
  std::string breaks;     // track a does not fit under the limit, track b does
  std::uint64_t limit;
};

TEST(FullDisk, SplitReportsTheTracksThatDoNotFitAndKeepsTheOldFile) {
  TempDir media;
  write_file(media / "disc.cdda.raw", counting_bytes(100 * BLOCK));
  const std::vector<FullDiskCase> cases = {
      {"CD audio", media / "disc.cdda.raw", ".cdda.raw", "0=a\n90=b\n", 100000},
      {"MP3", fixture("mpeg_cbr128.mp3"), ".mp3", "0=a\n150=b\n", 24000},
  };
  for (const FullDiskCase& c : cases) {
    SCOPED_TRACE(c.what);
    Tfold t;
    const std::string audio = t / ("show" + c.extension);
    fs::copy_file(c.source, audio);
    write_text(t / "show.txt", c.breaks);
    fs::create_directory(t / "whole");
    fs::create_directory(t / "out");
    // The same split without a limit gives the tracks to compare with.
    const RunResult whole = t.run({"split", audio, t / "show.txt", t / "whole"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    ASSERT_GT(fs::file_size(t / ("whole/a" + c.extension)), c.limit);
    ASSERT_LT(fs::file_size(t / ("whole/b" + c.extension)), c.limit);

    const std::string a = t / ("out/a" + c.extension);
    const std::string b = t / ("out/b" + c.extension);
    write_text(a, "old");
    RunResult r;
    {
      const FileSizeLimit limit(c.limit);
      RunOptions options;
      options.input = "y";
      r = t.run({"split", audio, t / "show.txt", t / "out"}, options);
    }
    EXPECT_EQ(r.status, 5) << r.err;
    expect_write_failure(r, a);
    EXPECT_TRUE(contains(r.err, ": Error writing to file " + a + ": File too large\n")) << r.err;
    EXPECT_FALSE(contains(r.err, ".tfold-")) << r.err;
    expect_no_write_failure(r, b);
    EXPECT_TRUE(contains(r.out, "Split finished.\n"));
    EXPECT_EQ(read_text(a), "old");
    EXPECT_EQ(read_file(b), read_file(t / ("whole/b" + c.extension)));
    EXPECT_EQ(listing(t / "out"), (std::set<std::string>{"a" + c.extension, "b" + c.extension}));
  }
}

TEST(FullDisk, AFileSizeLimitIsReportedAsTooLargeNotAKill) {
  Tfold t;
  write_file(t / "disc.cdda.raw", counting_bytes(100 * BLOCK));
  write_text(t / "show.txt", "0=a\n90=b\n");
  fs::create_directory(t / "out");
  RunResult r;
  {
    const FileSizeLimit limit(100000);
    RunOptions options;
    options.default_signals = true;  // as `ulimit -f` in a shell: SIGXFSZ would kill
    r = t.run({"split", t / "disc.cdda.raw", t / "show.txt", t / "out"}, options);
  }
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_TRUE(contains(r.err, ": Error writing to file " + (t / "out/a.cdda.raw") + ": File too large\n")) << r.err;
  EXPECT_EQ(listing(t / "out"), std::set<std::string>{"b.cdda.raw"});
}

TEST(FullDisk, MergeAndGenLeaveNoTemporaryFile) {
  Tfold t;
  write_file(t / "big.wav", canonical_wav(2, 44100, 16, counting_bytes(300 * BLOCK)));
  RunResult merge, gen;
  {
    const FileSizeLimit limit(1000000);
    merge = t.run({"merge", "big.wav", "big.wav"});
    gen = t.run({"gen"});
  }
  EXPECT_EQ(merge.status, 1);
  EXPECT_EQ(merge.out, "error writing to file merged.wav: File too large\n");
  EXPECT_EQ(gen.status, 0);
  EXPECT_EQ(std::count(gen.out.begin(), gen.out.end(), '\n'), 8);
  EXPECT_EQ(gen.out.find("wav_gen_2ch_44100hz_16bit.wav ... FAIL\n"), 0u) << gen.out;
  // Only the two rows small enough for the limit.
  EXPECT_EQ(listing(t.dir()), (std::set<std::string>{".config", ".home", "big.wav", "wav_gen_1ch_11025hz_8bit.wav",
                                     "wav_oneliner_1ch_8000hz_8bit.wav"}));
}

// ---- Interruptions ---------------------------------------------------------------------------

// The one temporary file in folder that has received more than a header, if any.
std::optional<fs::path> growing_temporary(const fs::path& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (contains(name, ".tfold-") && entry.file_size(ec) > 4096) return entry.path();
  }
  return std::nullopt;
}

TEST(Interrupt, SplitKeepsTheReplacedTrackAndLeavesNoTemporaryFile) {
  Tfold t;
  // A long track to copy: the interruption comes while it is being written.
  const std::uint64_t data_size = std::uint64_t{600} << 20;
  const std::string audio = t / "long.wav";
  make_sparse(audio, 44 + data_size);
  write_at(audio, 0, wav_header(static_cast<std::uint32_t>(data_size)));
  write_text(t / "long.txt", "0=a\n");
  fs::create_directory(t / "out");
  const std::string a = t / "out/a.wav";
  // Each way a process is ended from outside: interrupted, killed, its terminal closed,
  // the reader of its output gone (tfold ... | head -1).
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    SCOPED_TRACE(strsignal(signal_number));
    write_text(a, "old");
    RunOptions options;
    options.timeout = std::chrono::seconds(300);
    options.default_signals = true;
    RunningTfold split = t.start({"split", audio, t / "long.txt", t / "out"}, options);
    ASSERT_TRUE(split.wait_for_output(QUESTION_END)) << split.so_far().out << split.so_far().err;
    split.send("y");
    ASSERT_TRUE(split.wait_until([&] { return growing_temporary(t / "out").has_value(); }));
    split.signal(signal_number);
    const RunResult r = split.finish();
    EXPECT_EQ(r.signal, signal_number) << r.out << r.err;
    EXPECT_EQ(read_text(a), "old");
    EXPECT_EQ(listing(t / "out"), std::set<std::string>{"a.wav"});
  }
}

TEST(Interrupt, MergeLeavesNoOutputAndNoTemporaryFile) {
  Tfold t;
  const std::uint64_t data_size = std::uint64_t{600} << 20;
  make_sparse(t / "long.wav", 44 + data_size);
  write_at(t / "long.wav", 0, wav_header(static_cast<std::uint32_t>(data_size)));
  RunOptions options;
  options.timeout = std::chrono::seconds(300);
  RunningTfold merge = t.start({"merge", "long.wav", "long.wav", "long.wav"}, options);
  ASSERT_TRUE(merge.wait_until([&] { return growing_temporary(t.dir()).has_value(); }))
      << "no temporary file seen in " << t.dir() << merge.so_far().err;
  EXPECT_FALSE(fs::exists(t / "merged.wav"));
  merge.signal(SIGINT);
  const RunResult r = merge.finish();
  EXPECT_EQ(r.signal, SIGINT) << r.out << r.err;
  EXPECT_FALSE(fs::exists(t / "merged.wav"));
  EXPECT_EQ(listing(t.dir()), (std::set<std::string>{".config", ".home", "long.wav"}));
}

TEST(Interrupt, GenLeavesNoPartialFile) {
  Tfold t;
  RunOptions options;
  options.timeout = std::chrono::seconds(300);
  RunningTfold gen = t.start({"gen"}, options);
  ASSERT_TRUE(gen.wait_until([&] { return growing_temporary(t.dir()).has_value(); })) << gen.so_far().out;
  gen.signal(SIGTERM);
  const RunResult r = gen.finish();
  EXPECT_EQ(r.signal, SIGTERM) << r.out << r.err;
  for (const auto& name : listing(t.dir())) {
    EXPECT_FALSE(contains(name, ".tfold-")) << name;
    // Whatever is there under a final name is complete.
    if (contains(name, "wav_")) {
      EXPECT_TRUE(contains(r.out, name + " ... OK\n")) << name;
    }
  }
}

// ---- Inputs that are folders, unreadable, or missing -----------------------------------------

TEST(BadInput, FoldersGivenAsFiles) {
  Tfold t;
  fs::create_directory(t / "folder.wav");
  fs::create_directory(t / "folder.cdda.raw");
  fs::create_directory(t / "folder.txt");
  fs::create_directory(t / "out");
  write_file(t / "show.wav", canonical_wav(2, 44100, 16, counting_bytes(20 * BLOCK)));
  write_text(t / "show.txt", "0=a\n10=b\n");
  const std::string folder = "Is a directory";
  expect_command_cases(t, {
      {"info", {"info", "folder.wav", "folder.cdda.raw"}, 0,
       "Error opening folder.wav: " + folder + "\nError opening folder.cdda.raw: " + folder + "\n", ""},
      {"analyze", {"analyze", "folder.wav"}, 2, "Could not open folder.wav: " + folder + "\n", ""},
      {"split audio", {"split", "folder.cdda.raw", "show.txt", "out"}, 2,
       "Could not open folder.cdda.raw: " + folder + "\n", ""},
      {"split list", {"split", "show.wav", "folder.txt", "out"}, 3, "Could not open/parse folder.txt\n",
       "Cannot read folder.txt: Is a directory"},
      {"split folder that is a file", {"split", "show.wav", "show.txt", "show.wav"}, 4,
       "Not a directory: 'show.wav'\n", ""},
      {"list", {"list", "show.txt", "folder.txt", "show.txt"}, 2, "Could not parse file\n",
       "Cannot read folder.txt: Is a directory"},
      {"merge input", {"merge", "show.wav", "folder.wav"}, 1, "",
       "Could not read WAV header of folder.wav: Could not open file folder.wav: Is a directory\n"},
      {"merge output", {"merge", "-o", "folder.wav", "show.wav", "show.wav"}, 2, "",
       "ERROR: The output file folder.wav already exists.\n"},
      {"merge into a missing folder", {"merge", "-o", "missing/m.wav", "show.wav", "show.wav"}, 1,
       "error opening missing/m.wav for writing: No such file or directory\n", ""},
  });
  EXPECT_EQ(listing(t / "out"), std::set<std::string>{});
  EXPECT_FALSE(fs::exists(t / "merged.wav"));
}

TEST(BadInput, MissingFilesGetTheSystemsReason) {
  Tfold t;
  write_file(t / "show.wav", canonical_wav(2, 44100, 16, counting_bytes(20 * BLOCK)));
  write_text(t / "show.txt", "0=a\n");
  fs::create_directory(t / "out");
  const std::string missing = "No such file or directory";
  expect_command_cases(t, {
      {"info", {"info", "missing.wav"}, 0, "Error opening missing.wav: " + missing + "\n", ""},
      {"analyze", {"analyze", "missing.mp3"}, 2, "Could not open missing.mp3: " + missing + "\n", ""},
      {"split", {"split", "missing.cdda.raw", "show.txt", "out"}, 2,
       "Could not open missing.cdda.raw: " + missing + "\n", ""},
      {"merge", {"merge", "show.wav", "missing.wav"}, 1, "",
       "Could not read WAV header of missing.wav: Could not stat missing.wav: " + missing + "\n"},
  });
  EXPECT_EQ(listing(t / "out"), std::set<std::string>{});
}

TEST(BadInput, UnreadableFiles) {
  // Permissions do not stop the superuser from reading; the folder cases above fail reads
  // for everyone.
  if (geteuid() == 0) GTEST_SKIP() << "running as root: chmod 000 does not make a file unreadable";
  Tfold t;
  write_file(t / "show.wav", canonical_wav(2, 44100, 16, counting_bytes(20 * BLOCK)));
  write_text(t / "show.txt", "0=a\n10=b\n");
  fs::copy_file(t / "show.wav", t / "locked.wav");
  fs::copy_file(t / "show.txt", t / "locked.txt");
  fs::create_directory(t / "out");
  fs::permissions(t / "locked.wav", fs::perms::none);
  fs::permissions(t / "locked.txt", fs::perms::none);
  expect_command_cases(t, {
      {"info", {"info", "locked.wav"}, 0, "Error opening locked.wav: Permission denied\n", ""},
      {"analyze", {"analyze", "locked.wav"}, 2, "Could not open locked.wav: Permission denied\n", ""},
      {"split audio", {"split", "locked.wav", "show.txt", "out"}, 2, "Could not open locked.wav: Permission denied\n", ""},
      {"split list", {"split", "show.wav", "locked.txt", "out"}, 3, "Could not open/parse locked.txt\n", ""},
      {"list", {"list", "locked.txt"}, 2, "Could not parse file\n", ""},
      {"merge", {"merge", "show.wav", "locked.wav"}, 1, "",
       "Could not read WAV header of locked.wav: Could not open file locked.wav: Permission denied\n"},
  });
  EXPECT_EQ(listing(t / "out"), std::set<std::string>{});
}

// ---- Outputs that cannot be written ----------------------------------------------------------

TEST(OutputFailure, NamesTheFinalPathAndTheSystemsReason) {
  struct Case {
    const char* what;
    std::string breaks;
    std::uint64_t limit;  // 0: none
    std::string failed;   // the track that is not written, within out/
    std::string warning;  // what the first warning says about it, with out/FAILED for PATH
  };
  const std::vector<Case> cases = {
      {"missing subfolder", "0=nodir/x\n90=b\n", 0, "nodir/x.wav", "Error opening PATH for writing: No such file or directory"},
      {"file size limit", "0=a\n90=b\n", 100000, "a.wav", "Error writing to file PATH: File too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tfold t;
    write_file(t / "show.wav", canonical_wav(2, 44100, 16, counting_bytes(100 * BLOCK)));
    write_text(t / "show.txt", c.breaks);
    fs::create_directory(t / "out");
    RunResult r;
    {
      std::optional<FileSizeLimit> limit;
      if (c.limit != 0) limit.emplace(c.limit);
      r = t.run({"split", "show.wav", "show.txt", "out"});
    }
    EXPECT_EQ(r.status, 5) << r.err;
    const std::string path = "out/" + c.failed;
    const std::string warning = std::regex_replace(c.warning, std::regex("PATH"), path);
    EXPECT_TRUE(contains(r.err, ": " + warning + "\n")) << r.err;
    expect_write_failure(r, path);
    // Those three warnings and nothing else.
    std::size_t warnings = 0;
    for (std::size_t at = r.err.find("WARNING **"); at != std::string::npos; at = r.err.find("WARNING **", at + 1)) ++warnings;
    EXPECT_EQ(warnings, 3u) << r.err;
    EXPECT_FALSE(contains(r.err, ".tfold-")) << r.err;
    EXPECT_EQ(listing(t / "out"), std::set<std::string>{"b.wav"});
  }
}

// ---- Outputs and inputs that change under a running split --------------------------------------

// A split of three tracks whose first output exists, so the job stops at the question: the test
// changes the world there and then answers.
struct PausedSplit {
  Tfold t;
  std::string audio;
  std::string folder = t / "out";

  PausedSplit(const std::string& name, const std::string& extension) : audio(t / (name + extension)) {
    fs::create_directory(folder);
    write_text(t / "show.txt", "0=a\n40=b\n80=c\n");
    write_text(folder + "/a" + extension, "old");
  }
  RunningTfold start() const {
    RunOptions options;
    options.timeout = std::chrono::seconds(60);
    return t.start({"split", audio, t / "show.txt", folder}, options);
  }
};

TEST(ChangedUnderSplit, OutputFolderRemovedBeforeTheTracks) {
  PausedSplit s("show", ".wav");
  write_file(s.audio, canonical_wav(2, 44100, 16, counting_bytes(100 * BLOCK)));
  RunningTfold split = s.start();
  ASSERT_TRUE(split.wait_for_output(QUESTION_END)) << split.so_far().out << split.so_far().err;
  fs::remove_all(s.folder);
  split.send("y");
  const RunResult r = split.finish();
  EXPECT_EQ(r.status, 5) << r.err;
  for (const char* name : {"a", "b", "c"}) expect_write_failure(r, s.folder + "/" + name + ".wav");
  EXPECT_TRUE(contains(r.out, "Split 3/3: " + s.folder + "/c.wav\n"));
  EXPECT_TRUE(contains(r.out, "Split finished.\n"));
  EXPECT_FALSE(fs::exists(s.folder));
}

TEST(ChangedUnderSplit, SourceTruncatedBeforeTheTracksAreWritten) {
  // The tracks never claim more than the source still holds: a WAV track's header tells its
  // real length, a raw track holds what was left.
  struct Case {
    const char* extension;
    std::uint64_t header;
  };
  for (const Case& c : {Case{".wav", 44}, Case{".cdda.raw", 0}}) {
    SCOPED_TRACE(c.extension);
    PausedSplit s("show", c.extension);
    const Bytes data = counting_bytes(100 * BLOCK);
    write_file(s.audio, c.header != 0 ? canonical_wav(2, 44100, 16, data) : data);
    RunningTfold split = s.start();
    ASSERT_TRUE(split.wait_for_output(QUESTION_END)) << split.so_far().out << split.so_far().err;
    // Half of track b is left.
    fs::resize_file(s.audio, c.header + 60 * BLOCK);
    split.send("a");
    const RunResult r = split.finish();
    EXPECT_EQ(r.status, 0) << r.err;
    const auto track = [&](const char* name) { return s.folder + "/" + name + c.extension; };
    ASSERT_TRUE(fs::exists(track("a")));
    ASSERT_TRUE(fs::exists(track("b")));
    if (c.header != 0) {
      EXPECT_EQ(read_file(track("a")), canonical_wav(2, 44100, 16, slice(data, 0, 40 * BLOCK)));
      EXPECT_EQ(read_file(track("b")), canonical_wav(2, 44100, 16, slice(data, 40 * BLOCK, 20 * BLOCK)));
      if (fs::exists(track("c"))) expect_honest_wav(track("c"));
    } else {
      EXPECT_EQ(read_file(track("a")), slice(data, 0, 40 * BLOCK));
      EXPECT_EQ(read_file(track("b")), slice(data, 40 * BLOCK, 20 * BLOCK));
      if (fs::exists(track("c"))) {
        EXPECT_EQ(fs::file_size(track("c")), 0u);
      }
    }
    for (const auto& name : listing(s.folder)) EXPECT_FALSE(contains(name, ".tfold-")) << name;
  }
}

// Starts a split of long.wav, a sparse WAV of data_size bytes, by long.txt into out/.
RunningTfold start_sparse_split(const Tfold& t, std::uint64_t data_size, const std::string& breaks) {
  const std::string audio = t / "long.wav";
  make_sparse(audio, 44 + data_size);
  write_at(audio, 0, wav_header(static_cast<std::uint32_t>(data_size)));
  write_text(t / "long.txt", breaks);
  fs::create_directory(t / "out");
  RunOptions options;
  options.timeout = std::chrono::seconds(300);
  return t.start({"split", audio, t / "long.txt", t / "out"}, options);
}

TEST(ChangedUnderSplit, SourceTruncatedWhileItIsAnalysed) {
  Tfold t;
  const std::string audio = t / "long.wav";
  RunningTfold split = start_sparse_split(t, std::uint64_t{1} << 30, "0=a\n1000=b\n");
  ASSERT_TRUE(split.wait_for_output("Scanning audio file...\n")) << split.so_far().err;
  // Wherever the analysis is by now, the file ends in the middle of track b.
  fs::resize_file(audio, 44 + 1500 * BLOCK);
  const RunResult r = split.finish();
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.signal, 0);
  EXPECT_TRUE(r.status == 0 || r.status == 2) << r.status << r.out << r.err;
  for (const auto& name : listing(t / "out")) {
    EXPECT_FALSE(contains(name, ".tfold-")) << name;
    expect_honest_wav(t.dir() / "out" / name);
  }
  if (r.status == 0) {
    EXPECT_EQ(fs::file_size(t / "out/a.wav"), 44 + 1000 * BLOCK);
    EXPECT_EQ(fs::file_size(t / "out/b.wav"), 44 + 500 * BLOCK);
  }
}

TEST(ChangedUnderSplit, SourceTruncatedWhileATrackIsCopied) {
  Tfold t;
  const std::string audio = t / "long.wav";
  RunningTfold split = start_sparse_split(t, std::uint64_t{600} << 20, "0=a\n");
  ASSERT_TRUE(split.wait_until([&] { return growing_temporary(t / "out").has_value(); }));
  fs::resize_file(audio, 44 + 1000 * BLOCK);
  const RunResult r = split.finish();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "Split finished.\n"));
  // Either the copy had passed the new end (and holds what it copied) or it stopped there.
  EXPECT_EQ(listing(t / "out"), std::set<std::string>{"a.wav"});
  expect_honest_wav(t.dir() / "out/a.wav");
  EXPECT_GE(fs::file_size(t / "out/a.wav"), 44 + 1000 * BLOCK);
}

// ---- Paths over the system's limits ------------------------------------------------------------

TEST(PathLimits, NamesLongerThanTheSystemTakesAreReported) {
  Tfold t;
  write_file(t / "show.wav", canonical_wav(2, 44100, 16, counting_bytes(20 * BLOCK)));
  write_text(t / "show.txt", "0=a\n10=b\n");
  fs::create_directory(t / "out");
  const std::string long_name(NAME_MAX + 1, 'n');
  expect_command_cases(t, {
      {"info", {"info", long_name + ".wav"}, 0, "Error opening " + long_name + ".wav: ", ""},
      {"analyze", {"analyze", long_name + ".wav"}, 2, "Could not open " + long_name + ".wav: ", ""},
      {"split audio", {"split", long_name + ".wav", "show.txt", "out"}, 2, "Could not open ", ""},
      {"split list", {"split", "show.wav", long_name + ".txt", "out"}, 3, "Could not open/parse ", ""},
      {"split folder", {"split", "show.wav", "show.txt", long_name}, 4, "Directory does not exist: ", ""},
      {"list", {"list", long_name + ".txt"}, 2, "Could not parse file\n", ""},
      {"merge input", {"merge", "show.wav", long_name + ".wav"}, 1, "", "Could not read WAV header of "},
      {"merge output", {"merge", "-o", long_name + ".wav", "show.wav", "show.wav"}, 1,
       "error opening " + long_name + ".wav for writing: File name too long\n", ""},
  });
  EXPECT_EQ(listing(t.dir()), (std::set<std::string>{".config", ".home", "out", "show.txt", "show.wav"}));
}

TEST(PathLimits, TrackPathsOverPathMaxFailOneByOne) {
  Tfold t;
  write_file(t / "show.wav", canonical_wav(2, 44100, 16, counting_bytes(20 * BLOCK)));
  // An output folder whose path is a little shorter than PATH_MAX: a long track name takes the
  // whole path over the limit, a short one does not.
  fs::path folder = t.dir();
  while (folder.string().size() + 201 < PATH_MAX - 60) folder /= std::string(200, 'd');
  fs::create_directories(folder);
  const std::string long_track(251, 'n');
  write_text(t / "show.txt", "0=" + long_track + "\n10=b\n");
  const RunResult r = t.run({"split", "show.wav", "show.txt", folder.string()});
  EXPECT_EQ(r.status, 5) << r.err;
  EXPECT_GT(folder.string().size() + 1 + long_track.size() + 4, std::size_t{PATH_MAX});
  expect_write_failure(r, folder.string() + "/" + long_track + ".wav");
  EXPECT_EQ(listing(folder), std::set<std::string>{"b.wav"});
  EXPECT_EQ(read_file(folder / "b.wav"), canonical_wav(2, 44100, 16, slice(counting_bytes(20 * BLOCK), 10 * BLOCK, 10 * BLOCK)));
}

}  // namespace
