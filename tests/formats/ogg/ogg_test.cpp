#include "formats/ogg/ogg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "support/harness.h"
#include "support/module_reads.h"

namespace {

using tfold_test::Bytes;
using tfold_test::ReadResult;
using tfold_test::read_at;
using tfold_test::read_through;
using tfold_test::TempDir;
using tfold_test::fixture;

// Collects the warnings the module logs while it lives.
class WarningLog {
 public:
  WarningLog() {
    id_ = g_log_set_handler(nullptr, G_LOG_LEVEL_WARNING, &WarningLog::record, this);
  }
  ~WarningLog() { g_log_remove_handler(nullptr, id_); }
  WarningLog(const WarningLog&) = delete;
  WarningLog& operator=(const WarningLog&) = delete;
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  static void record(const gchar* /*domain*/, GLogLevelFlags /*level*/, const gchar* message,
                     gpointer self) {
    static_cast<WarningLog*>(self)->messages_.push_back(message);
  }
  guint id_ = 0;
  std::vector<std::string> messages_;
};

AudioFilePtr open_ogg(const std::string& path, ErrorText* error = nullptr) {
  return ogg_open_file(*ogg_module(), path, error);
}

TEST(OggModule, DescribesItself) {
  const FormatModule* module = ogg_module();
  ASSERT_NE(module, nullptr);
  EXPECT_STREQ(module->name, "Ogg Vorbis");
  EXPECT_STREQ(module->library, "libvorbisfile");
  EXPECT_STREQ(module->extension, ".ogg");
}

TEST(OggOpen, DescribesTheStreamAsSixteenBitPcm) {
  const struct {
    const char* name;
    std::uint32_t channels, rate, block_align, bytes_per_sec;
    std::uint64_t buffer_size, num_bytes;
    const char* serial;
  } cases[] = {
      {"ogg_stereo44.ogg", 2, 44100, 4, 176400, 2352, 176400, "00001234"},
      {"ogg_mono22.ogg", 1, 22050, 2, 44100, 588, 44100, "00000001"},
      {"ogg_6ch48.ogg", 6, 48000, 12, 576000, 7680, 576000, "deadbeef"},
      // Two one-second links of the same format read as one two-second stream.
      {"ogg_chained_same.ogg", 2, 44100, 4, 176400, 2352, 352800, "00001234"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioFilePtr file = open_ogg(fixture(c.name));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->si.channels, c.channels);
    EXPECT_EQ(file->si.samplesPerSec, c.rate);
    EXPECT_EQ(file->si.bitsPerSample, 16u);
    EXPECT_EQ(file->si.blockAlign, c.block_align);
    EXPECT_EQ(file->si.avgBytesPerSec, c.bytes_per_sec);
    EXPECT_EQ(file->si.bufferSize, c.buffer_size);
    EXPECT_EQ(file->si.numBytes, c.num_bytes);
    ASSERT_TRUE(file->details.has_value());
    const std::regex details(std::string("Xiph\\.Org libVorbis I \\d{8}.*, serial ") + c.serial +
                             ", [1-9][0-9]* kbps");
    EXPECT_TRUE(std::regex_match(*file->details, details)) << *file->details;
    ogg_close_file(*ogg_module(), std::move(file));
  }
}

TEST(OggOpen, TextFileIsNotAnOggFile) {
  TempDir dir;
  const std::string path = dir / "notes.ogg";
  tfold_test::write_text(path, "These are not the pages you are looking for.\n");
  ErrorText error;
  EXPECT_EQ(open_ogg(path, &error), nullptr);
  ASSERT_TRUE(error.has_value());
  EXPECT_TRUE(std::regex_match(*error, std::regex("ov_fopen\\(\\) returned -[0-9]+, probably not an Ogg file")))
      << *error;
}

TEST(OggOpen, ChainWhoseFormatChangesIsRefusedWithTheReason) {
  WarningLog warnings;
  ErrorText error;
  EXPECT_EQ(open_ogg(fixture("ogg_chained_rates.ogg"), &error), nullptr);
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("changes format: link 1 has 44100 Hz / 2 ch, link 2 has 22050 Hz / 1 ch"),
            std::string::npos)
      << *error;
  ASSERT_EQ(warnings.messages().size(), 1u);
  EXPECT_EQ(warnings.messages()[0], *error);
}

TEST(OggInfo, OpensOggFilesWhateverTheirName) {
  const std::regex expected(
      "File name:      (.*)\n"
      "File format:    Ogg Vorbis\n"
      "Format details: Xiph\\.Org libVorbis I .*, serial 00001234, [1-9][0-9]* kbps\n"
      "Duration:       00:00:01\\.000 \\(44100 samples\\)\n"
      "Format:         44100 Hz / 2 ch / 16 bit\n"
      "\n");
  tfold_test::Tfold t;
  for (const char* name : {"ogg_stereo44.ogg", "ogg_stereo44.oga", "ogg_stereo44_noext"}) {
    SCOPED_TRACE(name);
    const auto r = t.run({"info", fixture(name).string()});
    EXPECT_EQ(r.status, 0);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(r.out, match, expected)) << r.out;
    EXPECT_EQ(match[1], fixture(name).string());
  }
}

TEST(OggInfo, RefusedFilesGetTheUnknownFormatLine) {
  tfold_test::Tfold t;
  const std::string text = t / "notes.txt";
  tfold_test::write_text(text, "not audio\n");
  const std::string chained = fixture("ogg_chained_rates.ogg").string();
  const auto r = t.run({"info", text, chained});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Error opening " + text + ": File format unknown/not supported\n" +
                       "Error opening " + chained + ": File format unknown/not supported\n");
  EXPECT_NE(r.err.find("WARNING **: "), std::string::npos);
  EXPECT_NE(r.err.find("Chained Ogg Vorbis file " + chained +
                       " changes format: link 1 has 44100 Hz / 2 ch, link 2 has 22050 Hz / 1 ch"),
            std::string::npos)
      << r.err;
}

class OggRead : public testing::Test {
 protected:
  void SetUp() override {
    file_ = open_ogg(fixture("ogg_stereo44.ogg"));
    ASSERT_NE(file_, nullptr);
    ASSERT_EQ(file_->si.numBytes, 176400u);
    AudioFilePtr reference = open_ogg(fixture("ogg_stereo44.ogg"));
    ASSERT_NE(reference, nullptr);
    all_ = read_through(*reference, 2352);
    ASSERT_EQ(all_.size(), 176400u);
  }

  AudioFilePtr file_;
  Bytes all_;  // the whole decoded stream, read from the start in blocks
};

TEST_F(OggRead, ShortReadAtTheEndThenZeroWithoutWarning) {
  WarningLog warnings;
  const ReadResult last = read_at(*file_, 176400 - 1000, 2352);
  EXPECT_EQ(last.result, 1000);
  EXPECT_TRUE(last.bytes == tfold_test::slice(all_, 176400 - 1000, 1000));
  EXPECT_EQ(read_at(*file_, 176400, 2352).result, 0);
  EXPECT_TRUE(warnings.messages().empty());
}

TEST_F(OggRead, BeyondTheEndFails) {
  EXPECT_EQ(read_at(*file_, 176404, 2352).result, -1);
  EXPECT_EQ(read_at(*file_, 1ull << 40, 2352).result, -1);
  // The file stays usable.
  EXPECT_TRUE(read_at(*file_, 0, 2352).bytes == tfold_test::slice(all_, 0, 2352));
}

TEST_F(OggRead, SeeksGiveTheSameBytesAsReadingThrough) {
  const struct {
    std::uint64_t offset;
    std::size_t length;
  } cases[] = {
      {2352 * 40, 2352},  // forward
      {2352 * 3, 2352},   // backward
      {2352 * 4, 7056},   // adjacent to the last read: no seek
      {0, 176400},        // everything at once
      {4 * 1000 + 2, 7},  // starts and ends inside sample frames
      {4 * 1000 + 9, 3},  // continues from inside the frame the last read ended in
      {3, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset << " length " << c.length);
    const ReadResult r = read_at(*file_, c.offset, c.length);
    EXPECT_EQ(r.result, static_cast<std::int64_t>(c.length));
    EXPECT_TRUE(r.bytes == tfold_test::slice(all_, c.offset, c.length));
  }
}

TEST_F(OggRead, ReadsThatAreNotWholeFramesStillCoverTheStream) {
  // 8000 Hz mono has blocks of 213 bytes: reads end inside a sample frame.
  EXPECT_TRUE(read_through(*file_, 213) == all_);
}

TEST(OggReadDamaged, SkipsAHoleInTheDataAndGoesOn) {
  TempDir dir;
  Bytes bytes = tfold_test::read_file(fixture("ogg_stereo44.ogg"));
  // Break the checksum of an audio page in the middle of the stream.
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t first_audio_page = text.find("OggS", text.find("OggS", 1) + 1);
  const std::size_t middle_page = text.find("OggS", first_audio_page + 1);
  ASSERT_NE(middle_page, std::string::npos);
  bytes[middle_page + 100] ^= 0xFF;
  const std::string path = dir / "holed.ogg";
  tfold_test::write_file(path, bytes);

  AudioFilePtr file = open_ogg(path);
  ASSERT_NE(file, nullptr);
  WarningLog warnings;
  const Bytes all = read_through(*file, 2352);
  EXPECT_TRUE(warnings.messages().empty());
  // The audio behind the hole arrives, though the lost page is missing from it.
  EXPECT_GT(all.size(), 176400u / 2);
  EXPECT_LT(all.size(), 176400u);
}

std::vector<double> progress_log;
void record_progress(void* /*user_data*/, double fraction) { progress_log.push_back(fraction); }

TEST(OggWriteRange, ReportsProgressFromStartToEnd) {
  TempDir dir;
  AudioFilePtr file = open_ogg(fixture("ogg_stereo44.ogg"));
  ASSERT_NE(file, nullptr);
  progress_log.clear();
  const std::string out = dir / "01.ogg";
  // Bytes 2352 to 4704: samples 588 to 1176.
  ASSERT_EQ(format_write_track(*file, {.path = out, .start = 2352, .end = 4704, .track_number = 1,
                                       .progress = record_progress}),
            0);
  ASSERT_GE(progress_log.size(), 2u);
  EXPECT_EQ(progress_log.front(), 0.0);
  EXPECT_EQ(progress_log.back(), 1.0);
  EXPECT_TRUE(std::is_sorted(progress_log.begin(), progress_log.end()));
  AudioFilePtr track = open_ogg(out);
  ASSERT_NE(track, nullptr);
  EXPECT_EQ(track->si.numBytes, 2352u);
}

TEST(OggWriteRange, RangePastTheEndLeavesNoFile) {
  TempDir dir;
  AudioFilePtr file = open_ogg(fixture("ogg_stereo44.ogg"));
  ASSERT_NE(file, nullptr);
  const std::string out = dir / "01.ogg";
  WarningLog warnings;
  EXPECT_EQ(format_write_track(*file, {.path = out, .start = 176400}), -1);
  ASSERT_EQ(warnings.messages().size(), 1u);
  EXPECT_EQ(warnings.messages()[0],
            "Cannot cut samples 44100 to 44100 of " + fixture("ogg_stereo44.ogg").string() +
                ": the track starts at sample 44100 and ends at 44100: it holds no sample of the "
                "44100 there are");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
