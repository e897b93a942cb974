#include "formats/wav.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/harness.h"
#include "support/log_capture.h"
#include "support/wav_builder.h"

using namespace tfold_test;

namespace {

const char* const TRUNCATED =
    "Error reading chunk. Maybe the wave file you are trying to load is truncated?";

struct Opened {
  AudioFilePtr file;
  ErrorText error;
  std::vector<std::string> warnings;
  WavAudioFile* wav() const { return static_cast<WavAudioFile*>(file.get()); }
};

Opened open_bytes(const TempDir& dir, const Bytes& bytes) {
  const std::string path = dir / "in.wav";
  write_file(path, bytes);
  LogCapture log;
  Opened opened;
  opened.file = wav_open_file(*wav_module(), path, &opened.error);
  opened.warnings = log.warnings();
  return opened;
}

Bytes with_chunks(std::initializer_list<std::pair<std::string, Bytes>> chunks) {
  Bytes body;
  for (const auto& [id, contents] : chunks) append_chunk(body, id, contents);
  return riff_wave(body);
}

Bytes extensible_fmt(std::uint16_t sub_format) {
  Bytes fmt = fmt_contents(0xFFFE, 2, 48000, 288000, 6, 24);
  append_le16(fmt, 22);          // extension size
  append_le16(fmt, 24);          // valid bits
  append_le32(fmt, 3);           // channel mask
  append_le16(fmt, sub_format);  // sub-format GUID
  const std::uint8_t tail[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                               0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  fmt.insert(fmt.end(), std::begin(tail), std::end(tail));
  return fmt;
}

TEST(WavReader, AcceptsTheHeadersItUnderstands) {
  const Bytes data = counting_bytes(400);
  Bytes renamed_form = with_chunks({{"fmt ", pcm_fmt(2, 44100, 16)}, {"data", data}});
  std::copy_n("WAVX", 4, renamed_form.begin() + 8);
  Bytes renamed_riff = with_chunks({{"fmt ", pcm_fmt(2, 44100, 16)}, {"data", data}});
  std::copy_n("JUNK", 4, renamed_riff.begin());
  Bytes fmt18 = pcm_fmt(2, 44100, 16);
  fmt18.insert(fmt18.end(), {0, 0});

  const struct {
    const char* name;
    Bytes bytes;
    std::int64_t data_offset;
    SampleInfo si;
    std::vector<std::string> warnings;
  } cases[] = {
      {"canonical", canonical_wav(2, 44100, 16, data), 44, {2, 44100, 176400, 4, 16, 400, 2352}, {}},
      {"RIFF with another form type", renamed_form, 44, {2, 44100, 176400, 4, 16, 400, 2352}, {}},
      {"WAVE without RIFF", renamed_riff, 44, {2, 44100, 176400, 4, 16, 400, 2352}, {}},
      {"LIST before data",
       with_chunks({{"fmt ", pcm_fmt(1, 22050, 8)}, {"LIST", Bytes(10)}, {"data", data}}),
       62,
       {1, 22050, 22050, 1, 8, 400, 294},
       {"Chunk LIST is not a Format Chunk"}},
      {"fmt of 18 bytes", with_chunks({{"fmt ", fmt18}, {"data", data}}), 46,
       {2, 44100, 176400, 4, 16, 400, 2352}, {}},
      {"extensible PCM", with_chunks({{"fmt ", extensible_fmt(1)}, {"data", data}}), 68,
       {2, 48000, 288000, 6, 24, 400, 3840}, {}},
      {"chunk before fmt",
       with_chunks({{"bext", Bytes(3)}, {"fmt ", pcm_fmt(2, 44100, 16)}, {"data", data}}),
       55,
       {2, 44100, 176400, 4, 16, 400, 2352},
       {"Chunk bext is not a Format Chunk"}},
      {"zero fields", with_chunks({{"fmt ", fmt_contents(1, 0, 0, 0, 0, 0)}, {"data", data}}), 44,
       {0, 0, 0, 0, 0, 400, 0}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const Opened opened = open_bytes(dir, c.bytes);
    ASSERT_NE(opened.file, nullptr) << opened.error.value_or("");
    EXPECT_EQ(opened.wav()->data_offset, c.data_offset);
    EXPECT_EQ(opened.wav()->data_size, c.si.numBytes);
    const SampleInfo& si = opened.file->si;
    EXPECT_EQ(si.channels, c.si.channels);
    EXPECT_EQ(si.samplesPerSec, c.si.samplesPerSec);
    EXPECT_EQ(si.avgBytesPerSec, c.si.avgBytesPerSec);
    EXPECT_EQ(si.blockAlign, c.si.blockAlign);
    EXPECT_EQ(si.bitsPerSample, c.si.bitsPerSample);
    EXPECT_EQ(si.numBytes, c.si.numBytes);
    EXPECT_EQ(si.bufferSize, c.si.bufferSize);
    EXPECT_EQ(opened.warnings, c.warnings);
    EXPECT_FALSE(opened.file->details.has_value());
  }
}

TEST(WavReader, RefusesWithTheReason) {
  Bytes no_wave = with_chunks({{"fmt ", pcm_fmt(2, 44100, 16)}, {"data", Bytes(4)}});
  std::copy_n("JUNK", 4, no_wave.begin());
  std::copy_n("WAVX", 4, no_wave.begin() + 8);
  Bytes cut_in_chunk_header = with_chunks({{"fmt ", pcm_fmt(2, 44100, 16)}});
  cut_in_chunk_header.insert(cut_in_chunk_header.end(), {'d', 'a', 't'});
  Bytes huge_skip = riff_wave({});
  append_chunk(huge_skip, "fmt ", pcm_fmt(2, 44100, 16));
  append_chunk_declared(huge_skip, "LIST", 0x80000000u, Bytes(16));
  append_chunk(huge_skip, "data", Bytes(4));

  const struct {
    const char* name;
    Bytes bytes;
    std::string reason;
  } cases[] = {
      {"shorter than the file header", Bytes{'R', 'I', 'F', 'F', 0, 0}, "Cannot read wave header."},
      {"neither RIFF nor WAVE", no_wave, "is not a wave file."},
      {"floating point", with_chunks({{"fmt ", fmt_contents(3, 2, 44100, 352800, 8, 32)}, {"data", Bytes(8)}}),
       "Loading compressed wave data is not supported."},
      {"extensible float", with_chunks({{"fmt ", extensible_fmt(3)}, {"data", Bytes(8)}}),
       "Loading compressed wave data is not supported."},
      {"extensible without its extension", with_chunks({{"fmt ", fmt_contents(0xFFFE, 2, 44100, 176400, 4, 16)}, {"data", Bytes(8)}}),
       "Loading compressed wave data is not supported."},
      {"truncated chunk header", cut_in_chunk_header, TRUNCATED},
      {"no data chunk", with_chunks({{"fmt ", pcm_fmt(2, 44100, 16)}, {"LIST", Bytes(4)}}), TRUNCATED},
      {"format chunk cut short", riff_wave(Bytes{'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0}),
       "Error reading format chunk:"},
      {"skipped chunk of 2^31 bytes", huge_skip, TRUNCATED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const Opened opened = open_bytes(dir, c.bytes);
    EXPECT_EQ(opened.file, nullptr);
    ASSERT_TRUE(opened.error.has_value());
    EXPECT_NE(opened.error->find(c.reason), std::string::npos) << *opened.error;
  }
}

TEST(WavReader, ClampsDataLargerThanTheFile) {
  const struct {
    const char* name;
    std::uint32_t declared;
    std::uint64_t expected_size;
    std::string warning;
  } cases[] = {
      {"larger than the file", 1000, 56,
       "Real file size is 100, but wave header says it should be 1000. Using real file size instead."},
      {"all bits set", 0xFFFFFFFFu, 56,
       "Real file size is 100, but wave header says it should be -1. Using real file size instead."},
      // Believed: not larger than the whole file, though larger than what follows the header.
      {"between data and file size", 90, 90, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes body;
    append_chunk(body, "fmt ", pcm_fmt(2, 44100, 16));
    append_chunk_declared(body, "data", c.declared, counting_bytes(56));
    TempDir dir;
    const Opened opened = open_bytes(dir, riff_wave(body));
    ASSERT_NE(opened.file, nullptr);
    EXPECT_EQ(opened.file->si.numBytes, c.expected_size);
    if (c.warning.empty()) {
      EXPECT_TRUE(opened.warnings.empty());
    } else {
      EXPECT_EQ(opened.warnings, std::vector<std::string>{c.warning});
    }
  }
}

TEST(WavReader, ReadsAtOffsetsAndStopsAtTheEnd) {
  TempDir dir;
  const Bytes data = counting_bytes(100);
  Bytes body;
  append_chunk(body, "fmt ", pcm_fmt(2, 44100, 16));
  append_chunk(body, "data", data);
  append_chunk(body, "LIST", Bytes(32, 0xEE));
  const Opened opened = open_bytes(dir, riff_wave(body));
  ASSERT_NE(opened.file, nullptr);
  Bytes buffer(64);
  EXPECT_EQ(wav_read_data(*opened.file, buffer, 0), 64);
  EXPECT_EQ(buffer, slice(data, 0, 64));
  EXPECT_EQ(wav_read_data(*opened.file, buffer, 60), 40);  // never into the LIST chunk
  EXPECT_EQ(slice(buffer, 0, 40), slice(data, 60, 40));
  EXPECT_EQ(wav_read_data(*opened.file, buffer, 100), 0);
  EXPECT_EQ(wav_read_data(*opened.file, buffer, 101), -1);
}

TEST(WavReader, EmptyDataChunk) {
  TempDir dir;
  const Opened opened = open_bytes(dir, canonical_wav(2, 44100, 16, {}));
  ASSERT_NE(opened.file, nullptr);
  EXPECT_EQ(opened.file->si.numBytes, 0u);
  Bytes buffer(16);
  EXPECT_EQ(wav_read_data(*opened.file, buffer, 0), 0);
  EXPECT_EQ(wav_read_data(*opened.file, buffer, 1), -1);
}

// A recording beyond 4 GiB: the header cannot say its size, the file can.
TEST(WavReader, ServesDataBeyondFourGibibytes) {
  TempDir dir;
  const std::string path = dir / "big.wav";
  Bytes body;
  append_chunk(body, "fmt ", pcm_fmt(2, 44100, 16));
  append_chunk_declared(body, "data", 0xFFFFFFFFu, {});
  write_file(path, riff_wave(body));
  const std::uint64_t data_size = 5ull << 30;
  std::filesystem::resize_file(path, 44 + data_size);
  const Bytes marker = counting_bytes(64, 7);
  const std::uint64_t marker_offset = (4ull << 30) + 12345;
  {
    FilePtr fp(std::fopen(path.c_str(), "r+b"));
    ASSERT_TRUE(fp);
    ASSERT_EQ(fseeko(fp.get(), static_cast<off_t>(44 + marker_offset), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(marker.data(), 1, marker.size(), fp.get()), marker.size());
  }
  LogCapture log;
  AudioFilePtr file = wav_open_file(*wav_module(), path, nullptr);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->si.numBytes, data_size);
  Bytes buffer(64);
  EXPECT_EQ(wav_read_data(*file, buffer, marker_offset), 64);
  EXPECT_EQ(buffer, marker);

  const std::string out = dir / "tail.wav";
  ASSERT_EQ(wav_write_range(*file, out, marker_offset, marker_offset + 64, nullptr, nullptr), 0);
  EXPECT_EQ(slice(read_file(out), 44, 64), marker);
}

struct ProgressLog {
  std::vector<double> fractions;
  static void record(void* self, double fraction) {
    static_cast<ProgressLog*>(self)->fractions.push_back(fraction);
  }
};

class WavWriteRange : public testing::Test {
 protected:
  void SetUp() override {
    data_ = counting_bytes(10 * 2352 + 100);
    Bytes body;
    append_chunk(body, "fmt ", pcm_fmt(2, 44100, 16));
    append_chunk(body, "data", data_);
    append_chunk(body, "LIST", Bytes(40, 0xEE));
    write_file(dir_ / "in.wav", riff_wave(body));
    file_ = wav_open_file(*wav_module(), dir_ / "in.wav", nullptr);
    ASSERT_NE(file_, nullptr);
  }
  int write(std::uint64_t start, std::uint64_t end, ProgressLog* progress = nullptr) {
    return wav_write_range(*file_, dir_ / "out.wav", start, end, ProgressLog::record, progress ? progress : &unused_);
  }
  Bytes expected(std::size_t from, std::size_t count) const { return canonical_wav(2, 44100, 16, slice(data_, from, count)); }

  TempDir dir_;
  Bytes data_;
  AudioFilePtr file_;
  ProgressLog unused_;
};

TEST_F(WavWriteRange, WritesTheHeaderAndExactlyTheRange) {
  const struct {
    std::uint64_t start, end;
    std::size_t from, count;
  } cases[] = {
      {0, 0, 0, 10 * 2352 + 100},              // the whole data chunk, not the LIST after it
      {2352, 3 * 2352, 2352, 2 * 2352},
      {9 * 2352, 0, 9 * 2352, 2452},
      {10 * 2352, 11 * 2352, 10 * 2352, 100},  // a break at the block count ends at the data's end
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start);
    ASSERT_EQ(write(c.start, c.end), 0);
    EXPECT_EQ(read_file(dir_ / "out.wav"), expected(c.from, c.count));
  }
}

TEST_F(WavWriteRange, StartAtTheEndGivesAnEmptyTrackAndReportsBothEnds) {
  ProgressLog progress;
  ASSERT_EQ(write(data_.size(), 0, &progress), 0);
  EXPECT_EQ(read_file(dir_ / "out.wav"), canonical_wav(2, 44100, 16, {}));
  EXPECT_EQ(progress.fractions, (std::vector<double>{0.0, 1.0}));
}

TEST_F(WavWriteRange, ReportsProgressFromZeroToOne) {
  ProgressLog progress;
  ASSERT_EQ(write(0, 0, &progress), 0);
  ASSERT_GE(progress.fractions.size(), 3u);
  EXPECT_EQ(progress.fractions.front(), 0.0);
  EXPECT_EQ(progress.fractions.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(progress.fractions.begin(), progress.fractions.end()));
}

TEST_F(WavWriteRange, StartBeyondTheDataCreatesNothing) {
  LogCapture log;
  EXPECT_EQ(write(data_.size() + 1, 0), -1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out.wav"));
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(WavWriteRange, OutputThatCannotBeCreatedIsAWarnedFailure) {
  LogCapture log;
  const std::string out = dir_ / "missing/out.wav";
  EXPECT_EQ(wav_write_range(*file_, out, 0, 0, nullptr, nullptr), -1);
  EXPECT_EQ(log.warnings(), std::vector<std::string>{"Error opening " + out + " for writing"});
}

TEST(WavWriteHeader, WritesTheCanonicalLayout) {
  TempDir dir;
  const std::string path = dir / "h.wav";
  {
    FilePtr fp(std::fopen(path.c_str(), "wb"));
    // The five fields are written as given, none recomputed from the others.
    ASSERT_EQ(wav_write_header(fp.get(), SampleInfo{2, 44100, 12345, 7, 16, 999, 1}, 4000), 0);
  }
  const Bytes expected = {'R', 'I', 'F', 'F', 0xC4, 0x0F, 0, 0, 'W', 'A', 'V', 'E',
                          'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                          0x44, 0xAC, 0, 0, 0x39, 0x30, 0, 0, 7, 0, 16, 0,
                          'd', 'a', 't', 'a', 0xA0, 0x0F, 0, 0};
  EXPECT_EQ(read_file(path), expected);
}

TEST(WavWriteHeader, RefusesALengthTheSizeFieldsCannotHold) {
  TempDir dir;
  const std::string path = dir / "h.wav";
  FilePtr fp(std::fopen(path.c_str(), "wb"));
  const SampleInfo si{2, 44100, 176400, 4, 16, 0, 2352};
  testing::internal::CaptureStdout();
  EXPECT_EQ(wav_write_header(fp.get(), si, 0xFFFFFFFFull - 35), 1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("does not fit a WAV header"), std::string::npos);
  EXPECT_EQ(std::ftell(fp.get()), 0);
  EXPECT_EQ(wav_write_header(fp.get(), si, 0xFFFFFFFFull - 36), 0);
  fp.reset();
  const Bytes header = read_file(path);
  EXPECT_EQ(slice(header, 4, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(slice(header, 40, 4), (Bytes{0xDB, 0xFF, 0xFF, 0xFF}));
}

TEST(WavWriteHeader, ReportsTheFirstPieceThatCannotBeWritten) {
  FilePtr full(std::fopen("/dev/full", "wb"));
  if (!full) GTEST_SKIP() << "no /dev/full";
  std::setvbuf(full.get(), nullptr, _IONBF, 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(wav_write_header(full.get(), SampleInfo{2, 44100, 176400, 4, 16, 0, 2352}, 0), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "error writing wave header\n");
}

TEST(WavReadHeader, CopiesTheFormatOrWarns) {
  TempDir dir;
  write_file(dir / "a.wav", canonical_wav(1, 8000, 8, Bytes(80)));
  SampleInfo si;
  EXPECT_EQ(wav_read_header(dir / "a.wav", si), 0);
  EXPECT_EQ(si.samplesPerSec, 8000u);
  EXPECT_EQ(si.numBytes, 80u);
  LogCapture log;
  EXPECT_EQ(wav_read_header(dir / "none.wav", si), 1);
  ASSERT_EQ(log.warnings().size(), 1u);
  EXPECT_EQ(log.warnings()[0].rfind("Could not read WAV header of " + dir / "none.wav" + ": Could not stat", 0), 0u);
}

}  // namespace
