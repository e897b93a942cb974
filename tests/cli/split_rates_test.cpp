// Splits at every rate, through the binary: block b starts at sample frame floor(b * rate / 75)
// whatever the rate, so tracks start on whole frames and tile the source's data.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

constexpr const char* BREAKS = "0=t0\n1=t1\n2=t2\n75=t3\n151=t4\n701=t5\n";

struct RateCase {
  std::uint32_t rate;
  std::uint16_t channels;
  std::uint16_t bits;
  std::uint32_t channel_mask;  // extensible source when not 0
  // First sample frames of blocks 1, 2, 75, 151 and 701, and of the whole block 702 after
  // which the data ends 37 frames later.
  std::array<std::uint64_t, 6> starts;
};

void PrintTo(const RateCase& c, std::ostream* os) {
  *os << c.rate << " Hz " << c.channels << " ch " << c.bits << " bit";
}

Bytes wav_of(const RateCase& c, const Bytes& data) {
  Bytes chunks;
  append_chunk(chunks, "fmt ",
               c.channel_mask != 0 ? extensible_fmt(c.channels, c.rate, c.bits, c.bits, c.channel_mask)
                                   : pcm_fmt(c.channels, c.rate, c.bits));
  append_chunk(chunks, "data", data);
  return riff_wave(chunks);
}

class SplitAtEveryRate : public testing::TestWithParam<RateCase> {};

TEST_P(SplitAtEveryRate, TracksStartOnTheirFirstFrameAndTileTheData) {
  const RateCase& c = GetParam();
  const std::uint64_t frame = std::uint64_t{c.channels} * (c.bits / 8);
  const std::uint64_t frames = c.starts[5] + 37;
  const Bytes data = counting_bytes(frames * frame, c.rate);
  Tfold t;
  write_file(t / "in.wav", wav_of(c, data));
  write_text(t / "list.txt", BREAKS);
  fs::create_directory(t / "out");
  const RunResult r = t.run({"split", "in.wav", "list.txt", "out"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("File analyzed, 703 blocks\n"), std::string::npos) << r.out;

  const std::array<std::uint64_t, 7> bounds = {0,           c.starts[0], c.starts[1], c.starts[2],
                                               c.starts[3], c.starts[4], frames};
  std::vector<std::string> info_args = {"info"};
  for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
    SCOPED_TRACE(k);
    const std::string name = "out/t" + std::to_string(k) + ".wav";
    const Bytes expected = wav_of(c, slice(data, bounds[k] * frame, (bounds[k + 1] - bounds[k]) * frame));
    EXPECT_TRUE(read_file(t / name) == expected);
    info_args.push_back(name);
  }
  const RunResult info = t.run(info_args);
  std::size_t at = 0;
  for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
    const std::string samples = " (" + std::to_string(bounds[k + 1] - bounds[k]) + " samples)\n";
    at = info.out.find(samples, at);
    ASSERT_NE(at, std::string::npos) << "track " << k << " lacks" << samples << info.out;
  }
}

INSTANTIATE_TEST_SUITE_P(
    RatesChannelsBits, SplitAtEveryRate,
    testing::Values(RateCase{8000, 1, 8, 0, {106, 213, 8000, 16106, 74773, 74880}},
                    RateCase{11025, 2, 16, 0, {147, 294, 11025, 22197, 103047, 103194}},
                    RateCase{16000, 1, 16, 0, {213, 426, 16000, 32213, 149546, 149760}},
                    RateCase{22050, 2, 24, 0, {294, 588, 22050, 44394, 206094, 206388}},
                    RateCase{32000, 2, 16, 0, {426, 853, 32000, 64426, 299093, 299520}},
                    RateCase{44100, 1, 32, 0, {588, 1176, 44100, 88788, 412188, 412776}},
                    // 5.1 in WAVE_FORMAT_EXTENSIBLE: its tracks keep the layout.
                    RateCase{48000, 6, 24, 0x3F, {640, 1280, 48000, 96640, 448640, 449280}},
                    RateCase{96000, 2, 8, 0, {1280, 2560, 96000, 193280, 897280, 898560}},
                    RateCase{192000, 1, 16, 0, {2560, 5120, 192000, 386560, 1794560, 1797120}}));

}  // namespace
