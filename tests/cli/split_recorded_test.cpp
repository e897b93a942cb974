// At rates that are a multiple of 75 a block is a whole number of frames, and splits must come
// out exactly as they always did: the figures below were recorded from the program as it was
// before blocks were mapped to samples (the FNV-1a hash of the console lines that give
// durations, the block count and the track rows, and the size and hash of every track).
#include <gtest/gtest.h>

#include <array>
#include <cinttypes>
#include <filesystem>
#include <regex>
#include <sstream>

#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

std::uint64_t fnv1a(const std::string& bytes) {
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char c : bytes) {
    hash ^= static_cast<std::uint8_t>(c);
    hash *= 0x100000001b3u;
  }
  return hash;
}

std::uint64_t fnv1a(const Bytes& bytes) { return fnv1a(std::string(bytes.begin(), bytes.end())); }

// The lines that tell positions and lengths: the duration, the block count and the track rows.
std::string position_lines(const std::string& out) {
  static const std::regex wanted("Duration:.*|File analyzed.*| *[0-9]+\\. \\[.*");
  std::string lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (std::regex_match(line, wanted)) lines += line + "\n";
  }
  return lines;
}

struct Track {
  std::uint64_t size;
  std::uint64_t hash;
};

struct Recorded {
  std::uint32_t rate;
  std::uint16_t channels;
  std::uint16_t bits;
  const char* extension;
  std::uint64_t out_hash;
  std::array<Track, 4> tracks;  // a, b, c, d
};

void PrintTo(const Recorded& c, std::ostream* os) {
  *os << c.rate << " Hz " << c.channels << " ch " << c.bits << " bit " << c.extension;
}

// 160 blocks, 37 frames and a stray byte; tracks a [0, 1), b [1, 2), c [75, 151), d [151, end);
// the track [2, 75) is not written.
constexpr const char* BREAKS = "0=a\n1=b\n2\n75=c\n151=d\n";

class SplitAsRecorded : public testing::TestWithParam<Recorded> {};

// The figures as the table below writes them, so that a mismatch shows the row to put there.
std::string figures(std::uint64_t out_hash, const std::array<Track, 4>& tracks) {
  char text[64];
  std::snprintf(text, sizeof text, "0x%016" PRIx64 ", {{", out_hash);
  std::string row = text;
  for (const Track& track : tracks) {
    std::snprintf(text, sizeof text, "{%" PRIu64 ", 0x%016" PRIx64 "}, ", track.size, track.hash);
    row += text;
  }
  return row + "}}";
}

TEST_P(SplitAsRecorded, WritesTheSameBytesAndPrintsTheSameLines) {
  const Recorded& c = GetParam();
  const std::uint64_t frame = std::uint64_t{c.channels} * (c.bits / 8);
  const Bytes data = counting_bytes((160 * c.rate / 75 + 37) * frame + 1, c.rate + c.bits);
  const std::string ext = c.extension;
  Tfold t;
  write_file(t / ("in" + ext), ext == ".wav" ? canonical_wav(c.channels, c.rate, c.bits, data) : data);
  write_text(t / "list.txt", BREAKS);
  fs::create_directory(t / "out");
  const RunResult r = t.run({"split", "in" + ext, "list.txt", "out"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string out = position_lines(r.out);
  std::array<Track, 4> tracks;
  for (std::size_t k = 0; k < tracks.size(); ++k) {
    const Bytes track = read_file(t.dir() / "out" / (std::string(1, static_cast<char>('a' + k)) + ext));
    tracks[k] = {track.size(), fnv1a(track)};
  }
  EXPECT_EQ(figures(fnv1a(out), tracks), figures(c.out_hash, c.tracks)) << out;
}

INSTANTIATE_TEST_SUITE_P(
    MultiplesOf75, SplitAsRecorded,
    testing::Values(
        Recorded{11025, 1, 8, ".wav", 0x59417fa5862b9ee0,
                 {{{191, 0x780d0dacec5074c1}, {191, 0xa6ae3717da07161c}, {11216, 0x62b7af5ce3ade53d}, {1405, 0x2e03fa486463078e}}}},
        Recorded{22050, 2, 16, ".wav", 0xeb5f43f3ce8f2fa5,
                 {{{1220, 0xfbd944ecf889c69c}, {1220, 0xd89a3cf9e1ca6042}, {89420, 0xeab330a0f5028fe6}, {10777, 0xef5d73455532c109}}}},
        Recorded{44100, 2, 16, ".wav", 0x7412f9400417b8e5,
                 {{{2396, 0xe53d277a47b09c1c}, {2396, 0xd736d018a3e3cae9}, {178796, 0x93f5c463842e494f}, {21361, 0x348538e5f41861c7}}}},
        Recorded{44100, 2, 24, ".wav", 0x7412f9400417b8e5,
                 {{{3572, 0xd6085946dd5fb894}, {3572, 0xd3a0bda27bd7cb04}, {268172, 0x365f1e2ae5328c69}, {32019, 0x764163090fa3ee59}}}},
        Recorded{48000, 1, 16, ".wav", 0xa74c27d8c25383fa,
                 {{{1324, 0x302abbbb35349671}, {1324, 0x72f8f947d813838a}, {97324, 0xaab29b21835822d4}, {11639, 0x83c831b6d962eed0}}}},
        Recorded{88200, 2, 16, ".wav", 0x13fefd769a2c17f0,
                 {{{4748, 0x88bcbb2ebf81f6e4}, {4748, 0x09061896e212a9e2}, {357548, 0x0d4677f8fdb17c7e}, {42529, 0xdacbc1ce040aa46b}}}},
        Recorded{96000, 2, 24, ".wav", 0xb1d3347d63cedada,
                 {{{7724, 0x33c018f65bd67b46}, {7724, 0xb9fdc39663841d1a}, {583724, 0x1293b02786090195}, {69387, 0xd464d30b43098a2a}}}},
        Recorded{176400, 1, 32, ".wav", 0x39a29b511f8f1727,
                 {{{9452, 0xc08c3e844711e005}, {9452, 0x30b6aed56b8acd60}, {715052, 0xf8b157e72ebb6826}, {84865, 0xedca5fc5102f187b}}}},
        Recorded{192000, 2, 16, ".wav", 0x751d669d0a117d5f,
                 {{{10284, 0x641234a3b08f22cb}, {10284, 0xbab2cda8951e5c0b}, {778284, 0xa56600712c5eeda5}, {92353, 0x3d4d4e713d36a67c}}}},
        Recorded{44100, 2, 16, ".cdda.raw", 0x7412f9400417b8e5,
                 {{{2352, 0x5234ef11bb389a8b}, {2352, 0xb91247f67d8ae0b6}, {178752, 0x585adf1fcc59f058}, {21317, 0x1f4973386b746616}}}}));

}  // namespace
