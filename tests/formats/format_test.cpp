#include "formats/format.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "formats/registry.h"
#include "formats/wav/wav.h"
#include "support/harness.h"
#include "support/wav_builder.h"

using namespace tfold_test;

namespace {

std::string info_of(std::uint64_t num_bytes, std::uint32_t avg_bytes, std::uint32_t block_align) {
  AudioFile file;
  file.module = wav_module();
  file.path = "x.wav";
  file.si = SampleInfo{2, 44100, avg_bytes, block_align, 16, num_bytes, avg_bytes / 75};
  testing::internal::CaptureStdout();
  format_print_info(file);
  return testing::internal::GetCapturedStdout();
}

TEST(FormatPrintInfo, DurationLine) {
  const struct {
    std::uint64_t num_bytes;
    const char* line;
  } cases[] = {
      {0, "Duration:       00:00:00.000 (0 samples)\n"},
      {176400, "Duration:       00:00:01.000 (44100 samples)\n"},
      {10584000, "Duration:       00:01:00.000 (2646000 samples)\n"},
      {176400ull * 36000, "Duration:       10:00:00.000 (1587600000 samples)\n"},
      {176400ull * 360000, "Duration:       100:00:00.000 (15876000000 samples)\n"},
      {176400 + 4 * 441, "Duration:       00:00:01.010 (44541 samples)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.num_bytes);
    const std::string out = info_of(c.num_bytes, 176400, 4);
    EXPECT_NE(out.find(c.line), std::string::npos) << out;
  }
}

TEST(FormatPrintInfo, ShowsDetailsOnlyWhenTheModuleGivesThem) {
  AudioFile file;
  file.module = wav_module();
  file.path = "x.mp3";
  file.si = SampleInfo{2, 44100, 176400, 4, 16, 0, 2352};
  file.details = "MPEG-1 Layer III, Joint Stereo, 128 kbps";
  testing::internal::CaptureStdout();
  format_print_info(file);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "File name:      x.mp3\n"
            "File format:    RIFF WAVE\n"
            "Format details: MPEG-1 Layer III, Joint Stereo, 128 kbps\n"
            "Duration:       00:00:00.000 (0 samples)\n"
            "Format:         44100 Hz / 2 ch / 16 bit\n");
}

TEST(FormatHasExtension, ComparesTheTailIgnoringAsciiCase) {
  const FormatModule& wav = *wav_module();
  const struct {
    const char* path;
    const char* extension;
    int expected;
  } cases[] = {
      {"TRACK.WAV", nullptr, 1},       {"a.wav", nullptr, 1},      {".wav", ".wav", 1},
      {"wav", ".wav", 0},              {"a.wave", nullptr, 0},     {"", nullptr, 0},
      {"a.Cdda.Raw", ".cdda.raw", 1},  {"x.raw", ".cdda.raw", 0},  {"show.Mp2", ".mp2", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(format_has_extension(wav, c.path, c.extension), c.expected);
  }
}

TEST(FormatOpenFile, GivesTheFinalTextOnlyAndClearsItOnSuccess) {
  format_init();
  TempDir dir;
  ErrorText error;
  EXPECT_EQ(format_open_file(dir / "missing.wav", &error), nullptr);
  EXPECT_EQ(error, "No such file or directory");
  write_text(dir / "notes.wav", "no audio in here");
  EXPECT_EQ(format_open_file(dir / "notes.wav", &error), nullptr);
  EXPECT_EQ(error, "File format unknown/not supported");

  EXPECT_EQ(format_open_file(dir / "missing.wav", nullptr), nullptr);

  write_file(dir / "good.wav", canonical_wav(2, 44100, 16, Bytes(8)));
  error = "left over";
  AudioFilePtr file = format_open_file(dir / "good.wav", &error);
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(error.has_value());
  EXPECT_EQ(file->path, dir / "good.wav");
  EXPECT_EQ(file->file_size, 52);
  format_close_file(std::move(file));
}

// A playback reads while a split copies: neither may move a read position the other relies
// on, so both read the source by position and leave its descriptor where it was.
TEST(FormatReadsAndTrackCopies, LeaveTheSourcesReadPositionAlone) {
  format_init();
  TempDir dir;
  write_file(dir / "show.wav", canonical_wav(2, 44100, 16, counting_bytes(20 * 2352)));
  write_file(dir / "show.cdda.raw", counting_bytes(20 * 2352));
  for (const std::string& source : {dir / "show.wav", dir / "show.cdda.raw", fixture("mpeg_cbr128.mp3").string()}) {
    SCOPED_TRACE(source);
    ErrorText error;
    AudioFilePtr file = format_open_file(source, &error);
    ASSERT_NE(file, nullptr) << error.value_or("");
    const int fd = fileno(file->fp.get());
    const off_t before = lseek(fd, 0, SEEK_CUR);
    Bytes buffer(2352);
    EXPECT_GT(format_read_data(*file, buffer, 5 * 2352), 0);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), before);
    const std::string track = dir / "track";
    EXPECT_EQ(format_write_track(*file, {.path = track, .start = 2 * 2352, .end = 12 * 2352}), 0);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), before);
    format_close_file(std::move(file));
  }
}

TEST(FormatCheckBlockLayout, RefusesEveryZeroDivisor) {
  const struct {
    SampleInfo si;
    int expected;
  } cases[] = {
      {{2, 44100, 176400, 4, 16, 0, 2352}, 1},
      {{1, 8000, 8000, 1, 8, 0, 106}, 1},
      {{2, 44100, 176400, 0, 16, 0, 2352}, 0},  // block align 0
      {{0, 44100, 176400, 4, 16, 0, 2352}, 0},  // no channels
      {{2, 44100, 176400, 4, 4, 0, 2352}, 0},   // less than a byte per sample
      {{1, 10, 74, 1, 8, 0, 0}, 0},             // fewer than 75 bytes a second
      {{2, 50, 200, 4, 16, 0, 2}, 0},           // fewer than 75 frames a second
      {{2, 0, 176400, 4, 16, 0, 2352}, 0},      // no rate
  };
  for (const auto& c : cases) {
    ErrorText error;
    EXPECT_EQ(format_check_block_layout(c.si, &error), c.expected);
    EXPECT_EQ(error.has_value(), c.expected == 0);
  }
}

TEST(BlockMapping, BlocksStartAtTheirFirstSampleFrame) {
  const struct {
    std::uint32_t rate;
    std::uint64_t block, sample;
  } cases[] = {
      {44100, 1, 588},     {44100, 75, 44100},  {32000, 1, 426},    {32000, 2, 853},
      {32000, 151, 64426}, {32000, 701, 299093}, {8000, 1, 106},    {8000, 2, 213},
      {16000, 2, 426},     {11025, 1, 147},
      // A position of days at the highest rates does not overflow.
      {44100, 1ull << 40, 646512837132288ull}, {192000, 1ull << 40, 2814749767106560ull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, block " << c.block);
    EXPECT_EQ(format_block_sample(c.block, c.rate), c.sample);
    // The first sample of a block belongs to it, the one before to the block before.
    EXPECT_EQ(format_sample_block(c.sample, c.rate), c.block);
    EXPECT_EQ(format_sample_block(c.sample - 1, c.rate), c.block - 1);
  }
  const SampleInfo stereo32k{2, 32000, 128000, 4, 16, 0, 1706};
  EXPECT_EQ(format_block_offset(151, stereo32k), 257704u);
}

TEST(BlockMapping, CountsWholeBlocksPlusOne) {
  const struct {
    std::uint32_t rate;
    std::uint64_t frames, count;
  } cases[] = {
      {44100, 0, 1},    {44100, 5879, 10}, {44100, 5880, 11}, {32000, 1705, 4},
      {32000, 1706, 5}, {32000, 96000, 226}, {8000, 532, 5},  {8000, 533, 6},
      {44100, 1ull << 62, 7843003432699640ull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.frames << " frames");
    EXPECT_EQ(format_block_count(c.frames, c.rate), c.count);
  }
}

TEST(SetErrorMessage, ReplacesTheTextAndIgnoresANullTarget) {
  ErrorText error = "old";
  set_error_message(&error, "Could not stat %s: %s", "a", "b");
  EXPECT_EQ(error, "Could not stat a: b");
  set_error_message(nullptr, "%s", "nothing happens");
}

}  // namespace
