#include "merge.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/file_size_limit.h"
#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

namespace fs = std::filesystem;
using tfold_test::Bytes;

constexpr const char* USAGE =
    "Must pass filenames of wave files to merge.\n"
    "Usage: joinery [-o outfile] mergefiles...\n";
constexpr const char* FORMAT_TEXT =
    "ERROR: The files are not of the same format.\n\n"
    "This means that the sample rate, bits per sample, etc. are different.\n"
    "Please use a tool, like sox, to convert the files to the same format and\n"
    "try again.\n";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// GLib warning lines: "** (PROG:PID): WARNING **: HH:MM:SS.mmm: text".
bool has_warning(const std::string& err, const std::string& text) {
  return contains(err, "WARNING **: ") && contains(err, ": " + text);
}

std::uint32_t le32_at(const Bytes& bytes, std::size_t offset) {
  return static_cast<std::uint32_t>(bytes.at(offset)) | static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8 |
         static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16 |
         static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Stereo 16-bit at 44.1 kHz: a frame is 4 bytes, so a short input can end inside one.
Bytes cd_wav(const Bytes& data) { return tfold_test::canonical_wav(2, 44100, 16, data); }

// A data chunk that declares more than it holds, yet no more than the whole file: the
// reader believes the declared size, and the copy meets the end of the file early.
Bytes short_cd_wav(std::uint32_t declared, const Bytes& data) {
  Bytes chunks;
  tfold_test::append_chunk(chunks, "fmt ", tfold_test::pcm_fmt(2, 44100, 16));
  tfold_test::append_chunk_declared(chunks, "data", declared, data);
  return tfold_test::riff_wave(chunks);
}

class MergeCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    a_data = tfold_test::counting_bytes(1000, 1);
    b_data = tfold_test::counting_bytes(3000, 2);
    tfold_test::write_file(t / "a.wav", cd_wav(a_data));
    tfold_test::write_file(t / "b.wav", cd_wav(b_data));
  }
  bool exists(const std::string& name) const { return fs::exists(fs::symlink_status(t / name)); }

  tfold_test::Tfold t;
  Bytes a_data, b_data;
};

TEST_F(MergeCommand, ArgumentsPickOutputAndInputs) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string written;  // output file expected afterwards, "" for none
    std::string warning;  // text of a warning expected on standard error
    Bytes data;           // the data the output holds
  };
  const Bytes o_data = tfold_test::counting_bytes(8, 3);
  tfold_test::write_file(t / "-oout.wav", cd_wav(o_data));
  const std::vector<Case> cases = {
      {{}, 1, USAGE, "", "", {}},
      {{"a.wav"}, 1, USAGE, "", "", {}},
      {{"-o"}, 1, USAGE, "", "", {}},
      {{"-o", "out.wav", "a.wav"}, 1, USAGE, "", "", {}},
      {{"-o", "out.wav", "a.wav", "b.wav"}, 0, "", "out.wav", "", concat({a_data, b_data})},
      // Only an argument that is exactly "-o" is the option: three inputs.
      {{"-oout.wav", "a.wav", "b.wav"}, 0, "", "merged.wav", "", concat({o_data, a_data, b_data})},
      {{"a.wav", "-o", "b.wav"}, 1, "", "", "Could not read WAV header of -o: ", {}},
      // "--" ends the options as in every subcommand; a second one is a file name.
      {{"--", "a.wav", "b.wav"}, 0, "", "merged.wav", "", concat({a_data, b_data})},
      {{"-o", "out.wav", "--", "a.wav", "b.wav"}, 0, "", "out.wav", "", concat({a_data, b_data})},
      {{"--", "a.wav"}, 1, USAGE, "", "", {}},
      {{"--", "a.wav", "--"}, 1, "", "", "Could not read WAV header of --: ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    fs::remove(t / "out.wav");
    fs::remove(t / "merged.wav");
    std::vector<std::string> args{"merge"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto r = t.run(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    if (!c.warning.empty()) {
      EXPECT_TRUE(has_warning(r.err, c.warning)) << r.err;
    }
    EXPECT_EQ(exists("out.wav"), c.written == "out.wav");
    EXPECT_EQ(exists("merged.wav"), c.written == "merged.wav");
    if (!c.written.empty()) {
      EXPECT_EQ(tfold_test::read_file(t / c.written), cd_wav(c.data));
    }
  }
}

TEST_F(MergeCommand, CopiesDataInOrderBehindSummedHeader) {
  const auto r = t.run({"merge", "a.wav", "b.wav"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  const Bytes merged = tfold_test::read_file(t / "merged.wav");
  ASSERT_EQ(merged.size(), 44u + 4000u);
  EXPECT_EQ(le32_at(merged, 4), 4036u);
  EXPECT_EQ(le32_at(merged, 40), 4000u);
  EXPECT_EQ(tfold_test::slice(merged, 44, 1000), a_data);
  EXPECT_EQ(tfold_test::slice(merged, 1044, 3000), b_data);
  EXPECT_EQ(merged, cd_wav(concat({a_data, b_data})));
}

TEST_F(MergeCommand, SecondRunExitsTwoWithoutReadingInputs) {
  ASSERT_EQ(t.run({"merge", "a.wav", "b.wav"}).status, 0);
  const Bytes first = tfold_test::read_file(t / "merged.wav");
  // The existence test comes first: even inputs that are gone are never looked at.
  fs::remove(t / "a.wav");
  const auto r = t.run({"merge", "a.wav", "b.wav"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: The output file merged.wav already exists.\n");
  EXPECT_EQ(tfold_test::read_file(t / "merged.wav"), first);

  fs::create_directory(t / "taken");
  const auto dir = t.run({"merge", "-o", "taken", "b.wav", "b.wav"});
  EXPECT_EQ(dir.status, 2);
  EXPECT_EQ(dir.err, "ERROR: The output file taken already exists.\n");
}

TEST_F(MergeCommand, RefusesDifferentFormatsWithoutOutput) {
  struct Case {
    const char* what;
    Bytes second;
  };
  const Bytes data = tfold_test::counting_bytes(400, 4);
  const std::vector<Case> cases = {
      {"48 kHz after 44.1 kHz", tfold_test::canonical_wav(2, 48000, 16, data)},
      {"mono after stereo", tfold_test::canonical_wav(1, 44100, 16, data)},
      {"8 bits after 16", tfold_test::canonical_wav(2, 44100, 8, data)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tfold_test::write_file(t / "other.wav", c.second);
    const auto r = t.run({"merge", "a.wav", "other.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, FORMAT_TEXT);
    EXPECT_FALSE(exists("merged.wav"));
  }
}

TEST_F(MergeCommand, CopiesOnlyTheDataChunk) {
  // Chunks before and after the data: only the sample bytes may reach the output.
  Bytes chunks;
  tfold_test::append_chunk(chunks, "fmt ", tfold_test::pcm_fmt(2, 44100, 16));
  tfold_test::append_chunk(chunks, "LIST", Bytes(20, 'L'));
  tfold_test::append_chunk(chunks, "data", a_data);
  tfold_test::append_chunk(chunks, "LIST", Bytes(30, 'X'));
  tfold_test::append_chunk(chunks, "id3 ", Bytes(12, 'I'));
  tfold_test::write_file(t / "tagged.wav", tfold_test::riff_wave(chunks));

  const auto r = t.run({"merge", "tagged.wav", "b.wav", "tagged.wav"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(tfold_test::read_file(t / "merged.wav"), cd_wav(concat({a_data, b_data, a_data})));
}

TEST_F(MergeCommand, SameFileTwiceIsCopiedTwice) {
  ASSERT_EQ(t.run({"merge", "a.wav", "a.wav"}).status, 0);
  EXPECT_EQ(tfold_test::read_file(t / "merged.wav"), cd_wav(concat({a_data, a_data})));
}

TEST_F(MergeCommand, RefusesFloatingPointInputWithReason) {
  Bytes chunks;
  tfold_test::append_chunk(chunks, "fmt ", tfold_test::fmt_contents(3, 2, 44100, 352800, 8, 32));
  tfold_test::append_chunk(chunks, "data", Bytes(64, 0));
  tfold_test::write_file(t / "float.wav", tfold_test::riff_wave(chunks));

  const auto r = t.run({"merge", "a.wav", "float.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(has_warning(
      r.err, "Could not read WAV header of float.wav: IEEE float WAV is not supported"))
      << r.err;
  EXPECT_FALSE(exists("merged.wav"));
}

TEST_F(MergeCommand, SumBeyondFourGibibytesIsWrittenNotRefused) {
  // Two sparse files (they cost no disk) that really hold the 2^31 - 1 data bytes their
  // headers declare: each fits a RIFF header, their sum only RF64. Writing 4 GiB is left to
  // the one test that does (a split track); here a full disk stops the copy after 1 MB, so
  // the merge is seen to get past its header instead of refusing.
  const std::uintmax_t file_size = 44 + 0x7FFFFFFFu;
  for (const char* name : {"big1.wav", "big2.wav"}) {
    tfold_test::write_file(t / name, short_cd_wav(0x7FFFFFFF, {}));
    std::error_code ec;
    fs::resize_file(t / name, file_size, ec);
    if (ec) GTEST_SKIP() << "no sparse files here: " << ec.message();
  }
  tfold_test::RunResult r;
  {
    tfold_test::FileSizeLimit limit(1000000);
    r = t.run({"merge", "big1.wav", "big2.wav"});
  }
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "error writing to file merged.wav: File too large\n");
  EXPECT_FALSE(contains(r.err, "Cannot merge")) << r.err;
  EXPECT_FALSE(exists("merged.wav"));
}

TEST_F(MergeCommand, ShortInputKeepsWholeFramesAndCorrectsHeader) {
  // 982 of 1000 declared bytes: the last 2 bytes are half a frame and would shift
  // everything behind them.
  const Bytes short_data = tfold_test::counting_bytes(982, 5);
  tfold_test::write_file(t / "short.wav", short_cd_wav(1000, short_data));
  struct Case {
    std::vector<std::string> inputs;
    std::uint32_t data_length;
    Bytes data;
  };
  const std::vector<Case> cases = {
      {{"short.wav", "b.wav"}, 3980, concat({tfold_test::slice(short_data, 0, 980), b_data})},
      {{"a.wav", "short.wav"}, 1980, concat({a_data, tfold_test::slice(short_data, 0, 980)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inputs.front());
    fs::remove(t / "merged.wav");
    const auto r = t.run({"merge", c.inputs[0], c.inputs[1]});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(has_warning(r.err, "short.wav ends after 982 of its 1000 data bytes; "
                                   "merged the 980 bytes of whole frames it holds"))
        << r.err;
    const Bytes merged = tfold_test::read_file(t / "merged.wav");
    EXPECT_EQ(le32_at(merged, 40), c.data_length);
    EXPECT_EQ(le32_at(merged, 4), c.data_length + 36);
    EXPECT_EQ(merged, cd_wav(c.data));
  }
}

TEST_F(MergeCommand, DataSizeInsideAFrameContributesItsWholeFramesOnly) {
  // 403 bytes of 16-bit stereo: 100 frames and 3 bytes that would shift everything behind them.
  const Bytes odd_data = tfold_test::counting_bytes(403, 6);
  tfold_test::write_file(t / "odd.wav", cd_wav(odd_data));
  struct Case {
    std::vector<std::string> inputs;
    Bytes data;
  };
  const std::vector<Case> cases = {
      {{"odd.wav", "b.wav"}, concat({tfold_test::slice(odd_data, 0, 400), b_data})},
      {{"a.wav", "odd.wav", "b.wav"}, concat({a_data, tfold_test::slice(odd_data, 0, 400), b_data})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.inputs.front());
    fs::remove(t / "merged.wav");
    std::vector<std::string> args{"merge"};
    args.insert(args.end(), c.inputs.begin(), c.inputs.end());
    const auto r = t.run(args);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(has_warning(r.err, "odd.wav: its 403 data bytes end in part of a 4-byte sample frame; "
                                   "the last 3 bytes are left out"))
        << r.err;
    EXPECT_EQ(tfold_test::read_file(t / "merged.wav"), cd_wav(c.data));
  }
}

TEST_F(MergeCommand, CopiesFromAnotherFileSystem) {
  // The kernel will not copy between these two file systems: the buffered copy takes over,
  // short input included.
  struct stat shm_stat {}, sandbox_stat {};
  if (stat("/dev/shm", &shm_stat) != 0 || stat(t.dir().c_str(), &sandbox_stat) != 0 ||
      shm_stat.st_dev == sandbox_stat.st_dev) {
    GTEST_SKIP() << "no /dev/shm on a file system of its own";
  }
  struct ShmDir {
    fs::path path = fs::path("/dev/shm") / ("tfold-merge-test-" + std::to_string(getpid()));
    ShmDir() { fs::create_directories(path); }
    ~ShmDir() { fs::remove_all(path); }
  } other;
  const Bytes short_data = tfold_test::counting_bytes(982, 5);
  tfold_test::write_file(other.path / "short.wav", short_cd_wav(1000, short_data));
  tfold_test::write_file(other.path / "b.wav", cd_wav(b_data));

  const auto r = t.run({"merge", (other.path / "short.wav").string(), (other.path / "b.wav").string(),
                        (other.path / "short.wav").string()});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const Bytes whole_frames = tfold_test::slice(short_data, 0, 980);
  EXPECT_EQ(tfold_test::read_file(t / "merged.wav"), cd_wav(concat({whole_frames, b_data, whole_frames})));
}

TEST_F(MergeCommand, FailedWriteLeavesNoOutput) {
  const Bytes big = tfold_test::counting_bytes(600000, 6);
  tfold_test::write_file(t / "big.wav", cd_wav(big));
  tfold_test::RunResult r;
  {
    tfold_test::FileSizeLimit limit(1000000);
    r = t.run({"merge", "big.wav", "big.wav"});
  }
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "error writing to file merged.wav: File too large\n");
  EXPECT_FALSE(exists("merged.wav"));
  // Nothing stands in the way of the next attempt.
  EXPECT_EQ(t.run({"merge", "big.wav", "big.wav"}).status, 0);
  EXPECT_EQ(tfold_test::read_file(t / "merged.wav"), cd_wav(concat({big, big})));
}

TEST(MergeEngine, ReportsProgressInStatusRecord) {
  tfold_test::TempDir dir;
  tfold_test::write_file(dir / "a.wav", cd_wav(tfold_test::counting_bytes(400, 7)));
  tfold_test::write_file(dir / "b.wav", cd_wav(tfold_test::counting_bytes(800, 8)));
  MergeStatus status;
  status.fileName = "stale";
  status.reserved_zero = 7;
  status.reserved_minus_one = 7;
  const std::vector<std::string> inputs = {dir / "a.wav", dir / "b.wav", dir / "a.wav"};
  ASSERT_EQ(merge_wav_files(dir / "out.wav", inputs, &status), 0);
  EXPECT_EQ(status.fileCount, 3u);
  EXPECT_EQ(status.fileIndex, 3u);
  EXPECT_EQ(status.fileName, "");
  EXPECT_EQ(status.fraction, 1.0);
  EXPECT_EQ(status.done, 1);
  EXPECT_EQ(status.reserved_zero, 0);
  EXPECT_EQ(status.reserved_minus_one, -1);
}

TEST(MergeEngine, NeverOverwritesAnExistingOutput) {
  // The command tests for the output first; the engine still refuses one that appears later.
  tfold_test::TempDir dir;
  tfold_test::write_file(dir / "a.wav", cd_wav(tfold_test::counting_bytes(400, 7)));
  tfold_test::write_text(dir / "out.wav", "keep me");
  const std::vector<std::string> inputs = {dir / "a.wav", dir / "a.wav"};
  testing::internal::CaptureStdout();
  EXPECT_EQ(merge_wav_files(dir / "out.wav", inputs, nullptr), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "error opening " + (dir / "out.wav") + " for writing: File exists\n");
  EXPECT_EQ(tfold_test::read_text(dir / "out.wav"), "keep me");
}

}  // namespace
