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
#include <thread>
#include <functional>
#include <set>

#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

constexpr std::size_t BLOCK = 2352;  // 16-bit stereo 44100 Hz
constexpr std::size_t HEADER = 44;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::set<std::string> listing(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

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
Bytes wav_with_fmt(std::uint16_t channels, std::uint32_t rate, std::uint16_t block_align, std::uint16_t bits) {
  Bytes fmt;
  for (const auto& [value, bytes] : std::vector<std::pair<std::uint64_t, int>>{
           {1, 2}, {channels, 2}, {rate, 4}, {std::uint64_t{rate} * block_align & 0xFFFFFFFF, 4}, {block_align, 2}, {bits, 2}}) {
    for (int i = 0; i < bytes; ++i) fmt.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  Bytes chunks;
  append_chunk(chunks, "fmt ", fmt);
  append_chunk(chunks, "data", Bytes(4000, 0));
  return riff_wave(chunks);
}

struct RefusedInputCase {
  const char* what;
  std::vector<std::string> args;
  int status;
  std::string out;  // the line that says why
};

TEST(RefusedInputs, SpecialFilesAndImpossibleFormatsAreRefusedWithTheirReason) {
  Tfold t;
  ASSERT_EQ(mkfifo((t / "fifo.wav").c_str(), 0644), 0);
  write_file(t / "huge.wav", wav_with_fmt(65535, 0x80000000u, 65535, 16));
  write_file(t / "fast.wav", wav_with_fmt(2, 100000000, 4, 16));
  write_text(t / "l.txt", "0=a\n");
  fs::create_directory(t / "o");
  const std::string fifo = "it is a pipe or FIFO, which cannot be read by position: save the audio to a file first\n";
  const std::vector<RefusedInputCase> cases = {
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
  };
  for (const RefusedInputCase& c : cases) {
    SCOPED_TRACE(c.what);
    RunOptions options;
    options.timeout = std::chrono::seconds(20);
    const RunResult r = t.run(c.args, options);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, c.out)) << r.out;
    EXPECT_TRUE(listing(t / "o").empty());
  }
}

}  // namespace

namespace {

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
    write_file(t / "rec.wav", canonical_wav(2, 44100, 16, counting_bytes(100 * BLOCK)));
    write_text(t / c.name, c.text);
    fs::create_directory(t / "o");
    const RunResult r = t.run({"split", "rec.wav", c.name, "o"});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_TRUE(contains(r.out, "\nno tracks in " + c.name + "\n")) << r.out;
    EXPECT_FALSE(contains(r.out, "Split finished.")) << r.out;
    EXPECT_TRUE(listing(t / "o").empty());
  }
}

}  // namespace
