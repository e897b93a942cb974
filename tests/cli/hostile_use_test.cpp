// A careless or hostile break list or output folder: a track must never replace the recording
// being split, nor land outside the output folder, whatever path, link or name leads there.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <functional>
#include <set>

#include "support/command_cases.h"
#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

constexpr std::size_t BLOCK = 2352;  // 16-bit stereo 44100 Hz
constexpr std::size_t HEADER = 44;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The data of a split WAV track equals blocks [from, to) of the source's data.
void expect_track(const fs::path& track, const Bytes& source, std::size_t from, std::size_t to) {
  const Bytes bytes = read_file(track);
  ASSERT_EQ(bytes.size(), HEADER + (to - from) * BLOCK) << track;
  EXPECT_EQ(slice(bytes, HEADER, (to - from) * BLOCK), slice(source, HEADER + from * BLOCK, (to - from) * BLOCK))
      << track;
}

struct SourceCase {
  const char* what;
  // Lays out the sandbox: rec.wav holds the recording; returns the AUDIO argument, which is
  // the file that must survive.
  std::function<std::string(const Tfold&)> arrange;
};

TEST(SourceProtection, ATrackNamedAsTheSourceIsRefusedAndTheOthersWritten) {
  const Bytes recording = canonical_wav(2, 44100, 16, counting_bytes(300 * BLOCK));
  const std::vector<SourceCase> cases = {
      {"the source by its own path",
       [](const Tfold& t) {
         fs::copy_file(t / "rec.wav", t / "o/live.wav");
         return std::string("o/live.wav");
       }},
      {"the source by another path",
       [](const Tfold& t) {
         fs::copy_file(t / "rec.wav", t / "o/live.wav");
         return t / "o/../o/./live.wav";
       }},
      {"a hard link to the source",
       [](const Tfold& t) {
         fs::create_hard_link(t / "rec.wav", t / "o/live.wav");
         return std::string("rec.wav");
       }},
      {"a symbolic link to the source",
       [](const Tfold& t) {
         fs::create_symlink("../rec.wav", t / "o/live.wav");
         return std::string("rec.wav");
       }},
  };
  for (const SourceCase& c : cases) {
    SCOPED_TRACE(c.what);
    Tfold t;
    write_file(t / "rec.wav", recording);
    fs::create_directory(t / "o");
    write_text(t / "l.txt", "0=a\n100=live\n200=c\n");
    const std::string audio = c.arrange(t);
    const RunResult r = t.run({"split", audio, "l.txt", "o"});
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_TRUE(contains(r.err, "Refusing to write o/live.wav: it is the recording being split\n")) << r.err;
    EXPECT_EQ(read_file(t / audio), recording);
    expect_track(t / "o/a.wav", recording, 0, 100);
    expect_track(t / "o/c.wav", recording, 200, 300);
    EXPECT_EQ(listing(t / "o"), (std::set<std::string>{"a.wav", "c.wav", "live.wav"}));
  }
}

struct FolderCase {
  const char* what;
  std::vector<std::string> options;
  std::string list;
  std::function<void(const Tfold&)> arrange;  // o/ and out/ exist, out/ beside o/
  bool refused;
  std::string written;  // the track's file below the sandbox when it is not refused
};

TEST(OutputFolderBoundary, LinksThatLeadOutAreRefusedAndThoseInsideFollowed) {
  const Bytes recording = canonical_wav(2, 44100, 16, counting_bytes(200 * BLOCK));
  const std::vector<FolderCase> cases = {
      {"a relative link out", {}, "0=a\n100=lnk/evil\n",
       [](const Tfold& t) { fs::create_directory_symlink("../out", t / "o/lnk"); }, true, ""},
      {"an absolute link out", {}, "0=a\n100=lnk/evil\n",
       [](const Tfold& t) { fs::create_directory_symlink(t / "out", t / "o/lnk"); }, true, ""},
      {"a link out deeper down", {}, "0=a\n100=sub/lnk/evil\n",
       [](const Tfold& t) {
         fs::create_directory(t / "o/sub");
         fs::create_directory_symlink("../../out", t / "o/sub/lnk");
       },
       true, ""},
      {"a subfolder of the name format", {"--name-format=lnk/%n"}, "0=a\n100=b\n",
       [](const Tfold& t) { fs::create_directory_symlink("../out", t / "o/lnk"); }, true, ""},
      {"a link that stays inside", {}, "0=a\n100=inside/kept\n",
       [](const Tfold& t) {
         fs::create_directory(t / "o/sub");
         fs::create_directory_symlink("sub", t / "o/inside");
       },
       false, "o/sub/kept.wav"},
  };
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.what);
    Tfold t;
    write_file(t / "rec.wav", recording);
    fs::create_directory(t / "o");
    fs::create_directory(t / "out");
    write_text(t / "l.txt", c.list);
    c.arrange(t);
    std::vector<std::string> args{"split"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {"rec.wav", "l.txt", "o"});
    const RunResult r = t.run(args);
    EXPECT_TRUE(listing(t / "out").empty());
    if (c.refused) {
      EXPECT_EQ(r.status, 5) << r.err;
      EXPECT_TRUE(contains(r.err, "' from the break list: a symbolic link leads outside the output folder\n"))
          << r.err;
      EXPECT_FALSE(contains(r.err, ".tfold-")) << r.err;
    } else {
      EXPECT_EQ(r.status, 0) << r.err;
      expect_track(t / c.written, recording, 100, 200);
    }
  }
}

}  // namespace

namespace {

TEST(ControlCharacters, NamesReachNeitherTheTerminalNorTheFileNames) {
  Tfold t;
  write_file(t / "rec.wav", canonical_wav(2, 44100, 16, counting_bytes(200 * BLOCK)));
  write_text(t / "l.txt", "0=\x1b[2J\x1b]0;owned\x07title\n100=tab\there\x7f\n");
  const RunResult list = t.run({"list", "l.txt"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out,
            "== l.txt ==\n"
            " 1. [x]    0:00.00 -    0:01.25 \"[2J]0;ownedtitle\" (duration: 0:01.25)\n"
            " 2. [x]    0:01.25 -      (end) \"tabhere\"\n"
            "\n");
  fs::create_directory(t / "o");
  const RunResult split = t.run({"split", "rec.wav", "l.txt", "o"});
  EXPECT_EQ(split.status, 0) << split.err;
  EXPECT_EQ(listing(t / "o"), (std::set<std::string>{"[2J]0;ownedtitle.wav", "tabhere.wav"}));
  EXPECT_FALSE(contains(split.err, "\x07")) << split.err;
}

}  // namespace

namespace {

// Runs tfold in folder with a terminal as standard input, typing `typed` into it, and returns
// its exit status (-1 when it did not end in time). Standard output and error go to log.
int run_on_terminal(const fs::path& folder, const std::vector<std::string>& args, const std::string& typed,
                    const fs::path& log) {
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid < 0) return -1;
  if (pid == 0) {
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    if (chdir(folder.c_str()) != 0) _exit(126);
    setenv("HOME", folder.c_str(), 1);
    setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    std::vector<std::string> texts{binary_path()};
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  // The terminal's line discipline holds the typed lines until the program reads them.
  if (write(terminal, typed.data(), typed.size()) != static_cast<ssize_t>(typed.size())) return -1;
  int status = 0;
  for (int waited = 0; waited < 600; ++waited) {
    char echo[4096];
    while (read(terminal, echo, sizeof echo) > 0 && waitpid(pid, &status, WNOHANG) == 0) {
    }
    if (waitpid(pid, &status, WNOHANG) == pid) {
      close(terminal);
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  close(terminal);
  return -1;
}

TEST(OverwriteQuestion, OnATerminalOneTypedLineIsOneAnswer) {
  TempDir dir;
  const Bytes recording = canonical_wav(2, 44100, 16, counting_bytes(300 * BLOCK));
  write_file(dir / "rec.wav", recording);
  write_text(dir / ".libao", "default_driver=null\n");
  write_text(dir / "l.txt", "0=a\n100=b\n200=c\n");
  fs::create_directory(dir / "o");
  for (const char* name : {"o/a.wav", "o/b.wav", "o/c.wav"}) write_text(dir / name, "old");
  // "yes" once meant y, then e (asked again), then s: skip all, the later files unasked.
  const int status = run_on_terminal(dir.path(), {"split", "rec.wav", "l.txt", "o"}, "yes\nno\nyes\n",
                                     dir / "log");
  EXPECT_EQ(status, 0) << read_text(dir / "log");
  expect_track(dir / "o/a.wav", recording, 0, 100);
  EXPECT_EQ(read_text(dir / "o/b.wav"), "old");
  expect_track(dir / "o/c.wav", recording, 200, 300);
}

}  // namespace

namespace {

// A WAV header whose fields no recording has, before a few bytes of data.
Bytes wav_with_fmt(std::uint16_t channels, std::uint32_t rate, std::uint16_t block_align, std::uint16_t bits,
                   std::uint16_t tag = 1, std::size_t fmt_size = 16) {
  Bytes fmt;
  for (const auto& [value, bytes] : std::vector<std::pair<std::uint64_t, int>>{
           {tag, 2}, {channels, 2}, {rate, 4}, {std::uint64_t{rate} * block_align & 0xFFFFFFFF, 4}, {block_align, 2}, {bits, 2}}) {
    for (int i = 0; i < bytes; ++i) fmt.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  fmt.resize(fmt_size);
  Bytes chunks;
  append_chunk(chunks, "fmt ", fmt);
  append_chunk(chunks, "data", Bytes(4000, 0));
  return riff_wave(chunks);
}

TEST(RefusedInputs, SpecialFilesAndImpossibleFormatsAreRefusedWithTheirReason) {
  Tfold t;
  ASSERT_EQ(mkfifo((t / "fifo.wav").c_str(), 0644), 0);
  write_file(t / "huge.wav", wav_with_fmt(65535, 0x80000000u, 65535, 16));
  write_file(t / "fast.wav", wav_with_fmt(2, 100000000, 4, 16));
  write_file(t / "float.wav", wav_with_fmt(2, 44100, 8, 32, 3));
  write_file(t / "short.wav", wav_with_fmt(2, 44100, 4, 16, 1, 14));
  write_text(t / "l.txt", "0=a\n");
  fs::create_directory(t / "o");
  const std::string fifo = "it is a pipe or FIFO, which cannot be read by position: save the audio to a file first\n";
  expect_command_cases(t, {
      {"info of a FIFO", {"info", "fifo.wav"}, 0, "Error opening fifo.wav: " + fifo},
      {"analyze of a FIFO", {"analyze", "fifo.wav"}, 2, "Could not open fifo.wav: " + fifo},
      {"split of a FIFO", {"split", "fifo.wav", "l.txt", "o"}, 2, "Could not open fifo.wav: " + fifo},
      {"info of a device", {"info", "/dev/zero"}, 0, "Error opening /dev/zero: it is a device, not a file\n"},
      {"analyze of 65535 channels at 2^31 Hz", {"analyze", "huge.wav"}, 2,
       "Could not open huge.wav: Unusable audio format (2147483648 Hz, 65535 channels, 16 bit, block align "
       "65535): more channels than any recording has\n"},
      {"split of 65535 channels at 2^31 Hz", {"split", "huge.wav", "l.txt", "o"}, 2,
       "Could not open huge.wav: Unusable audio format (2147483648 Hz, 65535 channels, 16 bit, block align "
       "65535): more channels than any recording has\n"},
      {"analyze of 100 MHz", {"analyze", "fast.wav"}, 2,
       "Could not open fast.wav: Unusable audio format (100000000 Hz, 2 channels, 16 bit, block align 4): a "
       "higher sample rate than any recording has\n"},
      {"info of 32-bit float", {"info", "float.wav"}, 0, "Error opening float.wav: IEEE float WAV is not supported\n"},
      {"split of 32-bit float", {"split", "float.wav", "l.txt", "o"}, 2,
       "Could not open float.wav: IEEE float WAV is not supported\n"},
      {"analyze of a format chunk of 14 bytes", {"analyze", "short.wav"}, 2,
       "Could not open short.wav: Error reading format chunk: the chunk is shorter than 16 bytes\n"},
  });
  // Nothing may be written for any of them.
  EXPECT_TRUE(listing(t / "o").empty());
}

}  // namespace

namespace {

// Splits a recording of 100 blocks in t by a list file of the given name and text, into o.
RunResult split_by_list(const Tfold& t, const std::string& name, const std::string& text) {
  write_file(t / "rec.wav", canonical_wav(2, 44100, 16, counting_bytes(100 * BLOCK)));
  write_text(t / name, text);
  fs::create_directory(t / "o");
  return t.run({"split", "rec.wav", name, "o"});
}

TEST(EmptyLists, AListThatGivesNoTrackIsNoSuccessfulSplit) {
  struct Case {
    const char* what;
    std::string name;
    std::string text;
  };
  const std::string utf16_sheet = [] {
    std::string text;
    for (const char c : std::string("FILE \"rec.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n")) {
      text += c;
      text += '\0';
    }
    return text;
  }();
  const std::vector<Case> cases = {
      {"an empty file", "l.txt", ""},
      {"a .cue that is no sheet and holds no number", "l.cue", "just some words\n"},
      {"a TOC whose brace is never closed", "l.toc", "CD_DA\nTRACK AUDIO\nCD_TEXT {\n"},
      {"a UTF-16 sheet without its mark", "l.cue", utf16_sheet},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tfold t;
    const RunResult r = split_by_list(t, c.name, c.text);
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "\nno tracks in " + c.name + "\n")) << r.out;
    EXPECT_FALSE(contains(r.out, "Split finished.")) << r.out;
    EXPECT_TRUE(listing(t / "o").empty());
  }
}

}  // namespace

namespace {

// The bytes of a list file: a sheet's header, then one line repeated to fill size bytes.
std::string filled_list(const std::string& head, const std::string& line, std::size_t size) {
  std::string text = head;
  text.reserve(size);
  while (text.size() + line.size() <= size) text += line;
  return text;
}

TEST(ListLimits, NoListIsReadBeyondTheSizeOfAnyRealOneNorTakesMemoryByItsLines) {
  Tfold t;
  write_file(t / "rec.wav", canonical_wav(2, 44100, 16, counting_bytes(100 * BLOCK)));
  fs::create_directory(t / "o");
  {
    std::ofstream big(t / "big.txt");
    big.seekp(17 * 1024 * 1024 - 1);
    big.put('\n');
  }
  write_text(t / "lines.cue", filled_list("FILE \"rec.wav\" WAVE\n", "REM\n", 4 << 20));
  write_text(t / "braces.toc", filled_list("CD_DA\n", "{ ", 4 << 20));
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string err;  // a part of standard error
  };
  const std::string stream_refusal = "Cannot read /dev/zero: it holds more than any break list holds (16 MiB)";
  const std::vector<Case> cases = {
      {"list of an endless stream", {"list", "/dev/zero"}, 2, stream_refusal},
      {"split with an endless stream as the list", {"split", "rec.wav", "/dev/zero", "o"}, 3, stream_refusal},
      {"split with a list of 17 MiB", {"split", "rec.wav", "big.txt", "o"}, 3,
       "Cannot read big.txt: its 17825792 bytes are more than any break list holds (16 MiB)"},
      {"a cue sheet of 4 MiB of short lines", {"list", "lines.cue"}, 0, ""},
      {"a TOC file of 4 MiB of braces", {"list", "braces.toc"}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunOptions options;
    options.timeout = std::chrono::seconds(60);
    // Freed memory held back by the address sanitizer would count as the reader's.
    options.env["ASAN_OPTIONS"] = "quarantine_size_mb=4:detect_leaks=1";
    const RunResult r = t.run(c.args, options);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_TRUE(contains(r.err, c.err)) << r.err;
    // The file's bytes and a few times as much at most; every line or token kept at once
    // took tens of times the file.
    EXPECT_LT(r.max_rss_kb, 100 * 1024);
    EXPECT_TRUE(listing(t / "o").empty());
  }
}

TEST(BreaksBeyondTheEnd, NameTheirLineAndTimeAndFailAJobThatWasToWriteThem) {
  struct Case {
    const char* what;
    std::string name;
    std::string text;
    int status;
    std::set<std::string> written;
    std::string err;  // with LIST for the list's name
  };
  // 100 whole blocks: the recording ends at 0:01.25.
  const std::vector<Case> cases = {
      {"a track to write", "l.txt", "0=a\n50=b\n; c\n200=c\n", 5, {"a.wav", "b.wav"},
       "LIST, line 4: the break at 0:02.50 (block 200) lies beyond the end of the recording at 0:01.25; left out"},
      {"a break whose track is not written", "l.txt", "0=a\n50\n200\n", 0, {"a.wav"},
       "LIST, line 3: the break at 0:02.50 (block 200) lies beyond the end of the recording at 0:01.25; left out"},
      {"a cue sheet's track", "l.cue",
       "FILE \"rec.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:03:00\n",
       5, {"rec-01.wav"},
       "LIST, line 5: the break at 0:03.00 (block 225) lies beyond the end of the recording at 0:01.25; left out"},
      {"a TOC file's track", "l.toc",
       "CD_DA\nTRACK AUDIO\nFILE \"rec.wav\" 0 00:01:00\n\nTRACK AUDIO\nFILE \"rec.wav\" 00:05:00 00:01:00\n", 5,
       {"rec-01.wav"},
       "LIST, line 5: the break at 0:05.00 (block 375) lies beyond the end of the recording at 0:01.25; left out"},
      {"a time where a block count belongs", "l.txt", "0=a\n0:50=b\n", 0, {"a.wav"},
       "LIST, line 2: '0:50' is no block count; read as 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Tfold t;
    const RunResult r = split_by_list(t, c.name, c.text);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    std::string err = c.err;
    err.replace(err.find("LIST"), 4, c.name);
    EXPECT_TRUE(contains(r.err, err)) << r.err;
    EXPECT_FALSE(contains(r.err, "Offset out of range")) << r.err;
    EXPECT_EQ(listing(t / "o"), c.written);
  }
}

TEST(EmptyLastTrack, ABreakAtTheEndIsSkippedWithItsReasonInEveryFormat) {
  struct Case {
    const char* fixture;
    std::uint64_t end_block;  // where the recording ends, a whole number of blocks
  };
  const std::vector<Case> cases = {
      {"flac_stereo44.flac", 750},
      {"ogg_stereo44.ogg", 75},
      {"mpeg_cbr128.mp3", 225},
  };
  for (const Case& c : cases) {
    for (const std::uint64_t at : {c.end_block, c.end_block + 1}) {
      SCOPED_TRACE(std::string(c.fixture) + " at block " + std::to_string(at));
      Tfold t;
      const std::string ext = fs::path(c.fixture).extension().string();
      fs::copy_file(fs::path(TFOLD_FIXTURE_DIR) / c.fixture, t / ("rec" + ext));
      write_text(t / "l.txt", "0=a\n" + std::to_string(at) + "=b\n");
      fs::create_directory(t / "o");
      const RunResult r = t.run({"split", "rec" + ext, "l.txt", "o"});
      EXPECT_EQ(r.status, 0) << r.out << r.err;
      EXPECT_TRUE(contains(r.err, "Skipping o/b" + ext +
                                      ": its break lies at the end of the recording, so the track would be empty"))
          << r.err;
      EXPECT_FALSE(contains(r.out + r.err, "Could not write")) << r.out << r.err;
      EXPECT_EQ(listing(t / "o"), (std::set<std::string>{"a" + ext}));
      EXPECT_TRUE(contains(r.out, "Split finished.")) << r.out;
    }
  }
}

TEST(CharsetWarning, AListReadTwiceOverSaysItsCharsetOnce) {
  Tfold t;
  write_file(t / "rec.wav", canonical_wav(2, 44100, 16, counting_bytes(100 * BLOCK)));
  // Windows-1252 text in a .cue that is no sheet: read as a cue sheet, then as a plain list.
  write_text(t / "l.cue", "0=Caf\xe9\n50=Cr\xe8me\n");
  fs::create_directory(t / "o");
  const RunResult r = t.run({"split", "--tags", "rec.wav", "l.cue", "o"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::size_t said = 0;
  for (std::size_t at = r.err.find("is not UTF-8"); at != std::string::npos; at = r.err.find("is not UTF-8", at + 1)) {
    ++said;
  }
  EXPECT_EQ(said, 1u) << r.err;
  EXPECT_EQ(listing(t / "o"), (std::set<std::string>{"Caf\xc3\xa9.wav", "Cr\xc3\xa8me.wav"}));
}

}  // namespace
