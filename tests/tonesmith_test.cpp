#include "tonesmith.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/file_size_limit.h"
#include "support/harness.h"

namespace {

namespace fs = std::filesystem;
using tfold_test::Bytes;

const std::vector<std::string> FILE_NAMES = {
    "wav_gen_2ch_44100hz_16bit.wav", "wav_gen_2ch_44100hz_8bit.wav",
    "wav_gen_1ch_44100hz_16bit.wav", "wav_gen_1ch_44100hz_8bit.wav",
    "wav_gen_1ch_22050hz_8bit.wav",  "wav_gen_1ch_11025hz_8bit.wav",
    "wav_oneliner_1ch_8000hz_8bit.wav", "wav_gen_long_2ch_44100hz_16bit.wav",
};

std::string status_lines(const std::vector<std::string>& statuses) {
  std::string out;
  for (std::size_t i = 0; i < FILE_NAMES.size(); ++i) out += FILE_NAMES[i] + " ... " + statuses[i] + "\n";
  return out;
}

Bytes read_head(const fs::path& path, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  Bytes bytes(count);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

std::uint32_t le16_at(const Bytes& b, std::size_t at) { return b.at(at) | b.at(at + 1) << 8; }
std::uint32_t le32_at(const Bytes& b, std::size_t at) { return le16_at(b, at) | le16_at(b, at + 2) << 16; }
std::int16_t sample16_at(const Bytes& b, std::size_t at) { return static_cast<std::int16_t>(le16_at(b, at)); }

// One tone sample written out from the formulas, single precision throughout except the
// double-precision products that are rounded back to float.
float tone_sample(std::uint32_t i, std::uint32_t frames, std::uint32_t rate) {
  const float t = static_cast<float>(i) / static_cast<float>(frames);
  const float a = static_cast<float>(static_cast<double>(t) * 6.283185307179586);
  const float amplitude = fabsf(cosf(13.0f * a));
  const float frequency = sinf(77.0f * a) * 440.0f + 440.0f;
  const float phase = static_cast<float>(static_cast<double>(static_cast<float>(i)) *
                                         (static_cast<double>(frequency) * 3.141592653589793) /
                                         static_cast<double>(rate));
  return sinf(phase) * amplitude;
}

// The same tone in double precision: what the formulas mean, free of float rounding.
double ideal_tone_sample(std::uint32_t i, std::uint32_t frames, std::uint32_t rate) {
  const double a = static_cast<double>(i) / frames * 2 * M_PI;
  const double frequency = std::sin(77 * a) * 440 + 440;
  return std::sin(i * frequency * M_PI / rate) * std::fabs(std::cos(13 * a));
}

// `gen` writes about 60 MB: the suite runs it once and every test reads the same files.
class GenFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sandbox_ = std::make_unique<tfold_test::Tfold>();
    tfold_test::RunOptions options;
    options.timeout = std::chrono::seconds(300);  // slow under the sanitizers
    first_run_ = sandbox_->run({"gen"}, options);
  }
  static void TearDownTestSuite() { sandbox_.reset(); }
  static fs::path path(const std::string& name) { return sandbox_->dir() / name; }

  inline static std::unique_ptr<tfold_test::Tfold> sandbox_;
  inline static tfold_test::RunResult first_run_;
};

TEST_F(GenFiles, WritesEveryRowInOrder) {
  EXPECT_EQ(first_run_.status, 0);
  EXPECT_EQ(first_run_.out, status_lines(std::vector<std::string>(8, "OK")));
  EXPECT_EQ(first_run_.err, "");
}

TEST_F(GenFiles, SizesAndHeadersFollowTheRows) {
  struct Case {
    std::string name;
    std::uint32_t data_length, channels, rate, avg_bytes, block_align, bits;
  };
  const std::vector<Case> cases = {
      {FILE_NAMES[0], 10584000, 2, 44100, 176400, 4, 16},
      {FILE_NAMES[1], 5292000, 2, 44100, 88200, 2, 8},
      {FILE_NAMES[2], 5292000, 1, 44100, 88200, 2, 16},
      {FILE_NAMES[3], 2646000, 1, 44100, 44100, 1, 8},
      {FILE_NAMES[4], 1323000, 1, 22050, 22050, 1, 8},
      {FILE_NAMES[5], 661500, 1, 11025, 11025, 1, 8},
      {FILE_NAMES[6], 480000, 1, 8000, 8000, 1, 8},
      {FILE_NAMES[7], 31752000, 2, 44100, 176400, 4, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fs::file_size(path(c.name)), 44u + c.data_length);
    const Bytes head = read_head(path(c.name), 44);
    ASSERT_EQ(head.size(), 44u);
    EXPECT_EQ(std::string(head.begin(), head.begin() + 4), "RIFF");
    EXPECT_EQ(le32_at(head, 4), c.data_length + 36);
    EXPECT_EQ(std::string(head.begin() + 8, head.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32_at(head, 16), 16u);
    EXPECT_EQ(le16_at(head, 20), 1u);
    EXPECT_EQ(le16_at(head, 22), c.channels);
    EXPECT_EQ(le32_at(head, 24), c.rate);
    EXPECT_EQ(le32_at(head, 28), c.avg_bytes);
    EXPECT_EQ(le16_at(head, 32), c.block_align);
    EXPECT_EQ(le16_at(head, 34), c.bits);
    EXPECT_EQ(std::string(head.begin() + 36, head.begin() + 40), "data");
    EXPECT_EQ(le32_at(head, 40), c.data_length);
  }
}

TEST_F(GenFiles, ToneFilesStartSilent) {
  // t = 0: amplitude 1, frequency 440 and phase 0; silence is 0 in 16 bits and 127 in 8.
  const std::vector<std::pair<std::string, Bytes>> cases = {
      {FILE_NAMES[0], {0, 0, 0, 0}}, {FILE_NAMES[1], {127, 127}}, {FILE_NAMES[2], {0, 0}},
      {FILE_NAMES[3], {127}},        {FILE_NAMES[4], {127}},      {FILE_NAMES[5], {127}},
      {FILE_NAMES[7], {0, 0, 0, 0}},
  };
  for (const auto& [name, frame] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(tfold_test::slice(read_head(path(name), 44 + frame.size()), 44, frame.size()), frame);
  }
}

TEST_F(GenFiles, OnelinerBytes) {
  const Bytes file = tfold_test::read_file(path(FILE_NAMES[6]));
  ASSERT_EQ(file.size(), 480044u);
  const Bytes data = tfold_test::slice(file, 44, 480000);
  EXPECT_EQ(tfold_test::slice(data, 0, 272), Bytes(272, 0));
  EXPECT_EQ(data[272], 16);
  EXPECT_EQ(data[273], 17);
  EXPECT_EQ(data[8001], 20);
  EXPECT_EQ(data[8002], 40);
}

TEST_F(GenFiles, StereoChannelsCarryTheSameSamples) {
  for (const std::size_t row : {0u, 1u, 7u}) {
    SCOPED_TRACE(FILE_NAMES[row]);
    const Bytes file = tfold_test::read_file(path(FILE_NAMES[row]));
    const std::size_t sample_bytes = row == 1 ? 1 : 2;
    std::size_t differing = 0;
    std::size_t nonzero = 0;
    for (std::size_t at = 44; at + 2 * sample_bytes <= file.size(); at += 2 * sample_bytes) {
      for (std::size_t b = 0; b < sample_bytes; ++b) {
        differing += file[at + b] != file[at + sample_bytes + b];
        nonzero += file[at + b] != 0;
      }
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_GT(nonzero, 0u);
  }
}

TEST_F(GenFiles, ToneSamplesFollowTheFormulas) {
  const Bytes stereo16 = tfold_test::read_file(path(FILE_NAMES[0]));
  const Bytes mono8 = tfold_test::read_file(path(FILE_NAMES[5]));
  const std::uint32_t frames16 = 2646000;
  const std::uint32_t frames8 = 661500;
  for (const std::uint32_t i : {1u, 2u, 3u, 57u, 999u, 44100u, 330750u, 661499u, 1234567u, 2645999u}) {
    SCOPED_TRACE(i);
    const float s16 = tone_sample(i, frames16, 44100);
    EXPECT_EQ(sample16_at(stereo16, 44 + 4 * std::size_t{i}), static_cast<int>(s16 * 32767.0f));
    if (i < frames8) {
      const float s8 = tone_sample(i, frames8, 11025);
      EXPECT_EQ(mono8.at(44 + i), static_cast<std::uint8_t>(static_cast<int>(s8 * 127.0f + 127.0f)));
    }
    // Near the start float rounding is far below one step of the sample.
    if (i < 1000) {
      EXPECT_NEAR(sample16_at(stereo16, 44 + 4 * std::size_t{i}), ideal_tone_sample(i, frames16, 44100) * 32767, 1.0);
    }
  }
}

TEST_F(GenFiles, SecondRunLeavesEveryFileAlone) {
  std::vector<fs::file_time_type> times;
  for (const std::string& name : FILE_NAMES) times.push_back(fs::last_write_time(path(name)));
  const auto r = sandbox_->run({"gen"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, status_lines(std::vector<std::string>(8, "EXISTS")));
  for (std::size_t i = 0; i < FILE_NAMES.size(); ++i) {
    SCOPED_TRACE(FILE_NAMES[i]);
    EXPECT_EQ(fs::last_write_time(path(FILE_NAMES[i])), times[i]);
  }
}

TEST(GenCommand, RowThatCannotBeWrittenFailsAndLeavesNothing) {
  tfold_test::Tfold t;
  // Anything at the path counts as existing, a folder too.
  fs::create_directory(t / FILE_NAMES[5]);
  tfold_test::RunResult r;
  {
    // Like a disk with 1 MB free: only the two smallest rows fit.
    tfold_test::FileSizeLimit limit(1000000);
    r = t.run({"gen"});
  }
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, status_lines({"FAIL", "FAIL", "FAIL", "FAIL", "FAIL", "EXISTS", "OK", "FAIL"}));
  for (const std::size_t row : {0u, 1u, 2u, 3u, 4u, 7u}) {
    EXPECT_FALSE(fs::exists(t / FILE_NAMES[row])) << FILE_NAMES[row];
  }
  EXPECT_EQ(fs::file_size(t / FILE_NAMES[6]), 480044u);
  EXPECT_TRUE(fs::is_directory(t / FILE_NAMES[5]));
}

TEST(GenCommand, AFolderArgumentIsAUsageErrorNotIgnored) {
  tfold_test::Tfold t;
  std::filesystem::create_directory(t / "dir");
  const auto r = t.run({"gen", "dir"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Usage: " + tfold_test::binary_path() + " gen\n");
  EXPECT_TRUE(std::filesystem::is_empty(t / "dir"));
  for (const auto& entry : std::filesystem::directory_iterator(t.dir())) {
    EXPECT_NE(entry.path().extension(), ".wav") << entry.path();
  }
}

TEST(GenTable, RowsGiveTheirDataLengths) {
  const std::vector<std::uint64_t> lengths = {10584000, 5292000, 5292000, 2646000,
                                              1323000,  661500,  480000,  31752000};
  for (std::size_t i = 0; i < gen_table.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(gen_sample_info(gen_table[i]).numBytes, lengths[i]);
  }
  EXPECT_EQ(gen_sample_info(gen_table[0]).bufferSize, 2352u);
}

class GenWriters : public ::testing::Test {
 protected:
  Bytes run_writer(GenWriter writer, const SampleInfo& si, GenSignal signal) {
    FilePtr out(std::tmpfile());
    EXPECT_TRUE(writer(out.get(), &si, signal));
    std::rewind(out.get());
    Bytes bytes(si.numBytes + 1);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), out.get()));
    return bytes;
  }
};

TEST_F(GenWriters, PhaseIsIndexTimesFrequencyTimesPiOverRate) {
  // A frequency of half the rate steps the phase by pi/2 per frame: 0, 1, (about) 0, -1.
  const SineSignal half_rate = [](float, float& amplitude, float& frequency) {
    amplitude = 1.0f;
    frequency = 22050.0f;
  };
  SampleInfo si16;
  si16.channels = 1;
  si16.samplesPerSec = 44100;
  si16.bitsPerSample = 16;
  si16.blockAlign = 2;
  si16.numBytes = 8;
  EXPECT_EQ(run_writer(generate_sine, si16, half_rate), (Bytes{0x00, 0x00, 0xFF, 0x7F, 0x00, 0x00, 0x01, 0x80}));

  // 8 bits: sinf of float(pi) is just below zero, so the truncated sample is 126, not 127.
  SampleInfo si8 = si16;
  si8.bitsPerSample = 8;
  si8.blockAlign = 1;
  si8.numBytes = 4;
  EXPECT_EQ(run_writer(generate_sine, si8, half_rate), (Bytes{127, 254, 126, 0}));
}

TEST_F(GenWriters, ReportsAStreamThatRefusesWrites) {
  tfold_test::TempDir dir;
  tfold_test::write_text(dir / "ro", "");
  FilePtr read_only(std::fopen((dir / "ro").c_str(), "rb"));
  const SampleInfo si = gen_sample_info(gen_table[5]);
  EXPECT_FALSE(generate_sine(read_only.get(), &si, sine_modulation));
  const SampleInfo oneliner = gen_sample_info(gen_table[6]);
  EXPECT_FALSE(generate_oneliner(read_only.get(), &oneliner, oneliner_formula));
}

TEST(GenWritersDeathTest, OnelinerAssertsItsOwnFormat) {
  const SampleInfo si = gen_sample_info(gen_table[0]);
  FilePtr out(std::tmpfile());
  EXPECT_DEATH(generate_oneliner(out.get(), &si, oneliner_formula), "si->channels == 1");
}

}  // namespace
