#include <gtest/gtest.h>

#include <mutex>
#include <regex>
#include <thread>

#include "cli/commands.h"
#include "document/audio_device.h"
#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;

const std::string ESC = "\x1b";

RunOptions by_name() {
  RunOptions options;
  options.invoke_by_name = true;
  return options;
}

std::string info_block(const std::string& path, const char* duration) {
  return "File name:      " + path + "\nFile format:    RIFF WAVE\nDuration:       " + duration +
         "\nFormat:         44100 Hz / 2 ch / 16 bit\n";
}

// Ten blocks of 16-bit stereo 44100 Hz.
Bytes ten_blocks() { return canonical_wav(2, 44100, 16, counting_bytes(23520)); }

TEST(AnalyzeCommand, NeedsExactlyOneFile) {
  Tfold t;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"analyze"}, std::vector<std::string>{"analyze", "a.wav", "b.wav"}}) {
    SCOPED_TRACE(args.size());
    const RunResult r = t.run(args, by_name());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Usage: tfold analyze [filename.wav]\n");
  }
}

TEST(AnalyzeCommand, RefusesFilesItCannotOpenOrMeasure) {
  Tfold t;
  write_text(t / "notes.txt", "not audio at all\n");
  Bytes slow;
  append_chunk(slow, "fmt ", fmt_contents(1, 1, 8000, 50, 1, 8));
  append_chunk(slow, "data", Bytes(400, 128));
  write_file(t / "slow.wav", riff_wave(slow));
  Bytes unaligned;
  append_chunk(unaligned, "fmt ", fmt_contents(1, 2, 44100, 176400, 0, 16));
  append_chunk(unaligned, "data", Bytes(4000, 0));
  write_file(t / "unaligned.wav", riff_wave(unaligned));
  struct Case {
    std::string path;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {t / "missing.wav", "No such file or directory"},
      {t / "notes.txt", "File format unknown/not supported"},
      {t / "slow.wav",
       "Unusable audio format (8000 Hz, 1 channels, 8 bit, 50 bytes/s, block align 1): cannot "
       "measure it in blocks of 1/75 second"},
      {t / "unaligned.wav",
       "Unusable audio format (44100 Hz, 2 channels, 16 bit, 176400 bytes/s, block align 0): "
       "cannot measure it in blocks of 1/75 second"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const RunResult r = t.run({"analyze", c.path});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "Could not open " + c.path + ": " + c.reason + "\n");
  }
}

TEST(AnalyzeCommand, AnalysesAndPreviewsAShortFile) {
  Tfold t;
  const std::string path = t / "short.wav";
  write_file(path, ten_blocks());
  const RunResult r = t.run({"analyze", path});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string info = info_block(path, "00:00:00.133 (5880 samples)");
  ASSERT_EQ(r.out.substr(0, info.size()), info);
  std::smatch timing;
  const std::string rest = r.out.substr(info.size());
  ASSERT_TRUE(std::regex_match(
      rest, timing, std::regex("11 sample blocks analyzed in ([0-9]+\\.[0-9]{2}) seconds = ([0-9]+) blocks/sec\n")))
      << rest;
  // The poll sleeps 33333 microseconds before it can see the end, so at most 11 x 30.
  EXPECT_GE(std::stod(timing[1]), 0.03);
  EXPECT_LE(std::stoull(timing[2]), 330u);
  const std::regex status("(\r" + ESC + "\\[KAnalyzing\\.\\.\\. \\[ *[0-9]+%\\])+\r" + ESC +
                          "\\[KAnalyzing\\.\\.\\. \\[DONE\\]\n(\r" + ESC +
                          "\\[KPreviewing\\.\\.\\. \\[[0-9]+\\])+\r" + ESC +
                          "\\[KPreviewing\\.\\.\\. \\[DONE\\]\n");
  EXPECT_TRUE(std::regex_match(r.err, status)) << r.err;
}

TEST(AnalyzeCommand, WithoutADeviceReportsItAndStillSucceeds) {
  Tfold t;
  // No OSS device exists in the test environment, so this driver fails at once.
  write_text(t.home() / ".libao", "default_driver=oss\n");
  const std::string path = t / "short.wav";
  write_file(path, ten_blocks());
  const RunResult r = t.run({"analyze", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("11 sample blocks analyzed in "), std::string::npos);
  EXPECT_NE(r.err.find("Cannot open default libao device\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\r" + ESC + "[KPreviewing... [DONE]\n"), std::string::npos);
}

// A device that takes audio at the speed it plays it.
struct PacedOutput {
  std::mutex mutex;
  std::size_t played = 0;
  int closes = 0;
} paced;

const AudioBackend PACED_BACKEND = {
    [](const SampleInfo&) { return true; },
    [](std::span<const std::uint8_t> buffer) {
      std::this_thread::sleep_for(std::chrono::microseconds(buffer.size() * 1000000 / 176400));
      std::lock_guard lock(paced.mutex);
      paced.played += buffer.size();
      return true;
    },
    [] {
      std::lock_guard lock(paced.mutex);
      ++paced.closes;
    },
};

TEST(AnalyzePreview, LongFileStopsAtTheTenSecondDeadline) {
  TempDir dir;
  const std::string path = dir / "long.wav";
  const std::size_t data_size = 20 * 176400;  // twenty seconds
  write_file(path, canonical_wav(2, 44100, 16, Bytes(data_size, 0)));
  audio_device_set_backend(&PACED_BACKEND);
  std::string command = "tfold analyze";
  std::string file = path;
  char* argv[] = {command.data(), file.data(), nullptr};
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = tfold_analyze(2, argv);
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  audio_device_set_backend(nullptr);

  EXPECT_EQ(status, 0) << err;
  EXPECT_NE(out.find("1501 sample blocks analyzed in "), std::string::npos) << out;
  const std::string done = "\r" + ESC + "[KPreviewing... [DONE]\n";
  ASSERT_GE(err.size(), done.size());
  EXPECT_EQ(err.substr(err.size() - done.size()), done);
  std::lock_guard lock(paced.mutex);
  EXPECT_GT(paced.played, 176400u);     // it did play for a while ...
  EXPECT_LT(paced.played, data_size);   // ... and was stopped before the end
  EXPECT_EQ(paced.closes, 1);           // by a stop that closed the device
}

}  // namespace
