#include "formats/cdda/cdda.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "formats/registry.h"
#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using tfold_test::Bytes;
using tfold_test::TempDir;

AudioFilePtr open_cdda(const std::string& path, ErrorText* error = nullptr) {
  return cdda_open_file(*cdda_module(), path, error);
}

Bytes read_at(AudioFile& file, std::uint64_t offset, std::size_t length, std::int64_t& result) {
  Bytes buffer(length, 0xEE);
  result = cdda_read_data(file, buffer, offset);
  buffer.resize(result > 0 ? static_cast<std::size_t>(result) : 0);
  return buffer;
}

std::vector<double> progress_seen;
void record_progress(void* /*user_data*/, double fraction) { progress_seen.push_back(fraction); }

TEST(CddaModule, DescribesItself) {
  const FormatModule* module = cdda_module();
  ASSERT_NE(module, nullptr);
  EXPECT_STREQ(module->name, "CD Digital Audio (Big-Endian)");
  EXPECT_STREQ(module->library, "built-in");
  EXPECT_STREQ(module->extension, ".cdda.raw");
}

TEST(CddaOpen, AcceptsOnlyTheCdAudioExtensionInAnyCase) {
  const struct {
    const char* name;
    bool opens;
  } cases[] = {
      {"x.cdda.raw", true}, {"x.CDDA.RAW", true}, {"a.Cdda.Raw", true},
      {"x.raw", false},     {"x.cdda", false},    {"x.cdda.raw.wav", false},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / c.name;
    tfold_test::write_file(path, Bytes(8, 0));
    ErrorText error;
    AudioFilePtr file = open_cdda(path, &error);
    EXPECT_EQ(file != nullptr, c.opens);
    if (c.opens) {
      EXPECT_FALSE(error.has_value());
      cdda_close_file(*cdda_module(), std::move(file));
    } else {
      EXPECT_EQ(error, "Extension is not .cdda.raw");
    }
  }
}

TEST(CddaOpen, GivesTheFixedCdFormatWithTheFileSize) {
  TempDir dir;
  const std::string path = dir / "odd.cdda.raw";
  tfold_test::write_file(path, Bytes(4711, 0));
  AudioFilePtr file = open_cdda(path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->si.channels, 2u);
  EXPECT_EQ(file->si.samplesPerSec, 44100u);
  EXPECT_EQ(file->si.avgBytesPerSec, 176400u);
  EXPECT_EQ(file->si.blockAlign, 4u);
  EXPECT_EQ(file->si.bitsPerSample, 16u);
  EXPECT_EQ(file->si.bufferSize, 2352u);
  EXPECT_EQ(file->si.numBytes, 4711u);
  EXPECT_FALSE(file->details.has_value());
}

TEST(CddaOpen, MissingFileIsRefusedWithTheStatReason) {
  TempDir dir;
  ErrorText error;
  EXPECT_EQ(open_cdda(dir / "gone.cdda.raw", &error), nullptr);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->rfind("Could not stat ", 0), 0u) << *error;
}

TEST(CddaRead, EmptyFileReadsNothingAtZeroAndFailsBeyond) {
  TempDir dir;
  const std::string path = dir / "empty.cdda.raw";
  tfold_test::write_file(path, {});
  AudioFilePtr file = open_cdda(path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->si.numBytes, 0u);
  std::int64_t result = 0;
  read_at(*file, 0, 16, result);
  EXPECT_EQ(result, 0);
  read_at(*file, 1, 16, result);
  EXPECT_EQ(result, -1);
}

TEST(CddaRead, SwapsCompleteFramesAndLeavesARemainderAsStored) {
  const Bytes stored = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x11, 0x22};
  const struct {
    std::uint64_t offset;
    std::size_t length;
    std::int64_t result;
    Bytes expected;
  } cases[] = {
      {0, 10, 10, {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE, 0x11, 0x22}},
      {0, 4, 4, {0x34, 0x12, 0x78, 0x56}},
      {0, 3, 3, {0x12, 0x34, 0x56}},           // less than a frame: as stored
      {4, 100, 6, {0xBC, 0x9A, 0xF0, 0xDE, 0x11, 0x22}},  // the end of the file bounds it
      {10, 4, 0, {}},
      {11, 4, -1, {}},
  };
  TempDir dir;
  const std::string path = dir / "ten.cdda.raw";
  tfold_test::write_file(path, stored);
  AudioFilePtr file = open_cdda(path);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->si.numBytes, 10u);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " length " << c.length);
    std::int64_t result = 0;
    const Bytes got = read_at(*file, c.offset, c.length, result);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(got, c.expected);
  }
}

TEST(CddaRead, LargeReadSwapsEveryFrame) {
  Bytes stored;
  for (int frame = 0; frame < 100000; ++frame) {
    stored.insert(stored.end(), {0x01, 0x02, 0x03, 0x04});
  }
  TempDir dir;
  const std::string path = dir / "big.cdda.raw";
  tfold_test::write_file(path, stored);
  AudioFilePtr file = open_cdda(path);
  ASSERT_NE(file, nullptr);
  std::int64_t result = 0;
  const Bytes got = read_at(*file, 2352, 300000, result);
  ASSERT_EQ(result, 300000);
  for (std::size_t i = 0; i < got.size(); i += 4) {
    ASSERT_EQ(got[i], 0x02) << "at " << i;
    ASSERT_EQ(got[i + 1], 0x01) << "at " << i;
    ASSERT_EQ(got[i + 2], 0x04) << "at " << i;
    ASSERT_EQ(got[i + 3], 0x03) << "at " << i;
  }
}

class CddaWriteRange : public testing::Test {
 protected:
  void SetUp() override {
    // Longer than one copy piece, and not a whole number of frames.
    stored_ = tfold_test::counting_bytes(2352 * 700 + 10, 7);
    tfold_test::write_file(dir_ / "in.cdda.raw", stored_);
    file_ = open_cdda(dir_ / "in.cdda.raw");
    ASSERT_NE(file_, nullptr);
    progress_seen.clear();
  }
  int write(std::uint64_t start, std::uint64_t end) {
    return format_write_track(*file_, {.path = out_, .start = start, .end = end, .progress = record_progress});
  }

  TempDir dir_;
  Bytes stored_;
  AudioFilePtr file_;
  std::string out_ = dir_ / "track.cdda.raw";
};

TEST_F(CddaWriteRange, CopiesTheRangeUnchanged) {
  const std::uint64_t size = 2352 * 700 + 10;
  const struct {
    std::uint64_t start, end;
    std::size_t from, count;
  } cases[] = {
      {2352, 4704, 2352, 2352},
      {2352, 0, 2352, size - 2352},           // end 0: to the end of the file
      {0, 0, 0, size},
      {4704, 4704, 0, 0},                      // an empty range gives an empty file
      {size - 10, size + 5000, size - 10, 10}, // the end of the file bounds the copy
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << ".." << c.end);
    progress_seen.clear();
    ASSERT_EQ(write(c.start, c.end), 0);
    const Bytes written = tfold_test::read_file(out_);
    EXPECT_EQ(written.size(), c.count);
    EXPECT_TRUE(written == tfold_test::slice(stored_, c.from, c.count));
    ASSERT_FALSE(progress_seen.empty());
    EXPECT_EQ(progress_seen.front(), 0.0);
    EXPECT_EQ(progress_seen.back(), 1.0);
  }
}

TEST_F(CddaWriteRange, StartBeyondTheFileFailsWithoutLeavingAFile) {
  EXPECT_EQ(write(2352 * 700 + 11, 0), -1);
  EXPECT_EQ(write(2352 * 800, 2352 * 801), -1);
  EXPECT_FALSE(std::filesystem::exists(out_));
}

TEST_F(CddaWriteRange, UncreatableOutputFails) {
  out_ = dir_ / "missing-folder/track.cdda.raw";
  EXPECT_EQ(write(0, 2352), -1);
  EXPECT_TRUE(progress_seen.empty());
}

TEST(CddaInfo, OneSecondOfCdAudio) {
  tfold_test::Tfold t;
  const std::string path = t / "one.cdda.raw";
  tfold_test::write_file(path, Bytes(176400, 0));
  const auto r = t.run({"info", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "File name:      " + path +
                       "\n"
                       "File format:    CD Digital Audio (Big-Endian)\n"
                       "Duration:       00:00:01.000 (44100 samples)\n"
                       "Format:         44100 Hz / 2 ch / 16 bit\n"
                       "\n");
}

}  // namespace
