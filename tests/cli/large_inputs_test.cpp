// Inputs at the edges, through the binary: recordings beyond 4 GiB (sparse files: holes but
// for marker bytes around every boundary) and break lists of ten thousand tracks.
#include <gtest/gtest.h>

#include <sys/statvfs.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "support/harness.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

#ifdef __SANITIZE_ADDRESS__
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif

constexpr std::uint64_t BLOCK = 2352;
constexpr std::uint64_t FILE_SIZE = std::uint64_t{5} << 30;
constexpr std::uint64_t FOUR_GIB = std::uint64_t{1} << 32;

// Breaks in blocks: a track across the 4 GiB line (bytes 4294961328 to 4294970736), one wholly
// beyond it (to 4294977792), and the last 1.4 MB of the file; the rest is not written.
const std::string BREAKS = "0\n1826089=a\n1826093=b\n1826096\n2282000=c\n";
constexpr std::uint64_t A_START = 1826089 * BLOCK;
constexpr std::uint64_t B_START = 1826093 * BLOCK;
constexpr std::uint64_t B_END = 1826096 * BLOCK;
constexpr std::uint64_t C_START = 2282000 * BLOCK;

struct Marker {
  std::uint64_t offset;  // in the audio data
  Bytes bytes;
};

// Sixteen distinct bytes across each boundary a track starts, ends or crosses.
std::vector<Marker> boundary_markers(std::uint64_t data_end) {
  std::vector<Marker> markers;
  std::uint8_t value = 1;
  for (const std::uint64_t boundary : {A_START, FOUR_GIB, B_START, B_END, C_START, data_end}) {
    Marker marker{boundary - 8, {}};
    for (int i = 0; i < 16 && marker.offset + marker.bytes.size() < data_end; ++i) marker.bytes.push_back(value++);
    markers.push_back(marker);
  }
  return markers;
}

// The data bytes [from, to) of the sparse recording.
Bytes expected_data(const std::vector<Marker>& markers, std::uint64_t from, std::uint64_t to) {
  Bytes bytes(to - from, 0);
  for (const Marker& marker : markers) {
    for (std::size_t i = 0; i < marker.bytes.size(); ++i) {
      const std::uint64_t at = marker.offset + i;
      if (at >= from && at < to) bytes[at - from] = marker.bytes[i];
    }
  }
  return bytes;
}

void write_at(const fs::path& path, std::uint64_t offset, const Bytes& bytes) {
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(offset));
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write into " + path.string());
}

enum class Container { raw, riff_without_size, rf64 };

struct BigCase {
  const char* name;
  const char* extension;
  Container container;
  const char* blocks_line;
};

void PrintTo(const BigCase& c, std::ostream* os) { *os << c.name; }

constexpr std::uint64_t RF64_HEADER_SIZE = 80;

// RF64 with the sizes in ds64 and a LIST chunk behind the data, which is no audio.
Bytes rf64_header(std::uint64_t file_size, std::uint64_t data_size) {
  Bytes body;
  append_chunk(body, "ds64", ds64_contents(file_size - 8, data_size, data_size / 4));
  append_chunk(body, "fmt ", pcm_fmt(2, 44100, 16));
  append_chunk_declared(body, "data", 0xFFFFFFFFu, {});
  return rf64_wave(body);
}

class BeyondFourGiB : public testing::TestWithParam<BigCase> {};

TEST_P(BeyondFourGiB, TracksHoldTheirBytes) {
  const BigCase& c = GetParam();
  // Under the sanitizers a pass over 5 GiB takes minutes; the RF64 walk is checked there on
  // small files, and its positions are those of the other two cases.
  if (SANITIZED && c.container == Container::rf64) GTEST_SKIP() << "left to the build without sanitizers";
  Tfold t;
  const fs::path audio = t.dir() / (std::string("big") + c.extension);
  { std::ofstream create(audio, std::ios::binary); }
  fs::resize_file(audio, FILE_SIZE);
  std::uint64_t header_size = 0;
  std::uint64_t data_end = FILE_SIZE;
  if (c.container == Container::riff_without_size) {
    // The usual header of a recording too long for its 32-bit sizes: both say 0xFFFFFFFF.
    Bytes header = canonical_wav(2, 44100, 16, {});
    for (const std::size_t field : {4u, 40u}) std::fill_n(header.begin() + field, 4, 0xFF);
    write_at(audio, 0, header);
    header_size = header.size();
    data_end = FILE_SIZE - header_size;
  } else if (c.container == Container::rf64) {
    Bytes tag;
    append_chunk(tag, "LIST", Bytes(4, 'T'));
    header_size = RF64_HEADER_SIZE;
    data_end = FILE_SIZE - header_size - tag.size();
    write_at(audio, 0, rf64_header(FILE_SIZE, data_end));
    write_at(audio, header_size + data_end, tag);
  }
  const std::vector<Marker> markers = boundary_markers(data_end);
  for (const Marker& marker : markers) write_at(audio, header_size + marker.offset, marker.bytes);
  write_text(t / "big.txt", BREAKS);
  fs::create_directory(t / "out");

  RunOptions options;
  options.timeout = std::chrono::seconds(600);
  const RunResult r = t.run({"split", audio.string(), t / "big.txt", t / "out"}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(c.blocks_line), std::string::npos) << r.out;
  const std::string ext = c.extension;
  EXPECT_EQ(std::set<fs::path>({t.dir() / "out" / ("a" + ext), t.dir() / "out" / ("b" + ext),
                                t.dir() / "out" / ("c" + ext)}),
            std::set<fs::path>(fs::directory_iterator(t.dir() / "out"), fs::directory_iterator()));
  const struct {
    const char* name;
    std::uint64_t from, to;
  } tracks[] = {{"a", A_START, B_START}, {"b", B_START, B_END}, {"c", C_START, data_end}};
  for (const auto& track : tracks) {
    SCOPED_TRACE(track.name);
    const Bytes data = expected_data(markers, track.from, track.to);
    const Bytes expected = c.container != Container::raw ? canonical_wav(2, 44100, 16, data) : data;
    const Bytes got = read_file(t.dir() / "out" / (track.name + ext));
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    SparseRecordings, BeyondFourGiB,
    testing::Values(BigCase{"Wav", ".wav", Container::riff_without_size, "File analyzed, 2282615 blocks\n"},
                    BigCase{"Rf64", ".wav", Container::rf64, "File analyzed, 2282615 blocks\n"},
                    BigCase{"CdAudio", ".cdda.raw", Container::raw, "File analyzed, 2282615 blocks\n"}),
    [](const testing::TestParamInfo<BigCase>& info) { return std::string(info.param.name); });

// A track beyond what a RIFF size holds is written as RF64. This is the one real write of more
// than 4 GiB in all the test runs: the source is sparse, the track cannot be. The kernel does
// the copy, so the sanitizer build, which runs the same code, leaves it to the plain one.
TEST(BeyondFourGiBOutput, TrackIsWrittenAsRf64) {
  if (SANITIZED) GTEST_SKIP() << "the 4 GiB write runs in the build without sanitizers";
  constexpr std::uint64_t data_size = FOUR_GIB + (1 << 20);
  constexpr std::uint64_t track_start = BLOCK;  // the track runs from block 1 to the end
  constexpr std::uint64_t track_size = data_size - track_start;
  Tfold t;
  struct statvfs disk {};
  const std::uint64_t needed = track_size + (std::uint64_t{1} << 30);
  if (statvfs(t.dir().c_str(), &disk) != 0 || std::uint64_t{disk.f_bavail} * disk.f_frsize < needed) {
    GTEST_SKIP() << "needs " << needed / (1 << 20) << " MiB of free disk for a track beyond 4 GiB";
  }
  const fs::path audio = t.dir() / "long.wav";
  { std::ofstream create(audio, std::ios::binary); }
  fs::resize_file(audio, RF64_HEADER_SIZE + data_size);
  write_at(audio, 0, rf64_header(RF64_HEADER_SIZE + data_size, data_size));
  const std::vector<Marker> markers = {{track_start, counting_bytes(16, 1)},
                                       {FOUR_GIB - 8, counting_bytes(16, 2)},
                                       {data_size - 16, counting_bytes(16, 3)}};
  for (const Marker& marker : markers) write_at(audio, RF64_HEADER_SIZE + marker.offset, marker.bytes);
  write_text(t / "long.txt", "0\n1=track\n");
  fs::create_directory(t / "out");

  RunOptions options;
  options.timeout = std::chrono::seconds(600);
  const RunResult r = t.run({"split", "long.wav", "long.txt", "out"}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const fs::path track = t.dir() / "out" / "track.wav";
  ASSERT_EQ(fs::file_size(track), RF64_HEADER_SIZE + track_size);
  std::ifstream in(track, std::ios::binary);
  const auto read_at = [&in](std::uint64_t offset, std::size_t count) {
    Bytes bytes(count);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    return bytes;
  };
  EXPECT_EQ(read_at(0, RF64_HEADER_SIZE), rf64_header(RF64_HEADER_SIZE + track_size, track_size));
  for (const Marker& marker : markers) {
    SCOPED_TRACE(marker.offset);
    EXPECT_EQ(read_at(RF64_HEADER_SIZE + marker.offset - track_start, 16), marker.bytes);
  }
  const RunResult info = t.run({"info", "out/track.wav"});
  EXPECT_NE(info.out.find(" (1074003380 samples)\n"), std::string::npos) << info.out;
  EXPECT_EQ(info.err, "");
}

// A recording between 2 and 4 GiB states its data size exactly, and the LIST chunk behind the
// data is a tag: neither `info` nor `split` may take the size for negative or the tag for audio.
TEST(BetweenTwoAndFourGiB, InfoAndSplitBelieveTheExactSize) {
  constexpr std::uint64_t data_size = 0xC0000000;  // 96 kHz stereo 16-bit, 2 h 19 min
  Tfold t;
  const fs::path audio = t.dir() / "three.wav";
  Bytes body;
  append_chunk(body, "fmt ", pcm_fmt(2, 96000, 16));
  append_chunk_declared(body, "data", static_cast<std::uint32_t>(data_size), {});
  Bytes tag;
  append_chunk(tag, "LIST", Bytes(4, 'T'));
  Bytes header = riff_wave(body);
  Bytes riff_size;
  append_le32(riff_size, static_cast<std::uint32_t>(header.size() - 8 + data_size + tag.size()));
  std::copy(riff_size.begin(), riff_size.end(), header.begin() + 4);
  write_file(audio, header);
  fs::resize_file(audio, header.size() + data_size);
  const Bytes last_frames = counting_bytes(8, 3);
  write_at(audio, header.size() + data_size - last_frames.size(), last_frames);
  { std::ofstream(audio, std::ios::binary | std::ios::app).write(reinterpret_cast<const char*>(tag.data()), 12); }
  ASSERT_EQ(fs::file_size(audio), header.size() + data_size + tag.size());

  const RunResult info = t.run({"info", "three.wav"});
  EXPECT_EQ(info.status, 0);
  EXPECT_NE(info.out.find("Duration:       02:19:48.608 (805306368 samples)\n"), std::string::npos) << info.out;
  EXPECT_EQ(info.err, "");

  // Block 629145 starts at frame 805305600: the last 768 frames, without the tag.
  write_text(t / "three.txt", "0\n629145=tail\n");
  fs::create_directory(t / "out");
  const RunResult split = t.run({"split", "three.wav", "three.txt", "out"});
  ASSERT_EQ(split.status, 0) << split.out << split.err;
  EXPECT_NE(split.out.find("File analyzed, 629146 blocks\n"), std::string::npos) << split.out;
  EXPECT_EQ(split.err, "");
  Bytes tail(768 * 4 - last_frames.size(), 0);
  tail.insert(tail.end(), last_frames.begin(), last_frames.end());
  EXPECT_TRUE(read_file(t / "out/tail.wav") == canonical_wav(2, 96000, 16, tail));
}

// ---- Ten thousand breaks ---------------------------------------------------------------------

// A cue sheet of 10,000 untitled one-block tracks: every name is generated.
std::string ten_thousand_tracks() {
  std::string cue = "FILE \"many.wav\" WAVE\n";
  char line[64];
  for (int i = 0; i < 10000; ++i) {
    std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n    INDEX 01 %02d:%02d:%02d\n", i + 1, i / 4500,
                  i / 75 % 60, i % 75);
    cue += line;
  }
  return cue;
}

TEST(TenThousandBreaks, ListNamesEveryTrack) {
  Tfold t;
  write_text(t / "many.cue", ten_thousand_tracks());
  const RunResult r = t.run({"list", "many.cue"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string first_row = "== many.cue ==\nAudio file: many.wav (not there)\n 1. [x]    0:00.00 -    0:00.01 \"many-01\" (duration: 0:00.01)\n";
  EXPECT_EQ(r.out.substr(0, first_row.size()), first_row);
  EXPECT_NE(r.out.find("\n9999. [x]    2:13.23 -    2:13.24 \"many-9999\" (duration: 0:00.01)\n"),
            std::string::npos);
  const std::string last_row = "\n10000. [x]    2:13.24 -      (end) \"many-10000\"\n\n";
  EXPECT_EQ(r.out.substr(r.out.size() - last_row.size()), last_row);
}

TEST(TenThousandBreaks, SplitWritesEveryTrack) {
  Tfold t;
  const Bytes data = counting_bytes(10000 * BLOCK + 100);
  write_file(t / "many.wav", canonical_wav(2, 44100, 16, data));
  write_text(t / "many.cue", ten_thousand_tracks());
  fs::create_directory(t / "out");
  RunOptions options;
  options.timeout = std::chrono::seconds(300);
  const RunResult r = t.run({"split", "many.wav", "many.cue", "out"}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Split 10000/10000: out/many-10000.wav\n"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(t / "out"), fs::directory_iterator()), 10000);
  for (const std::uint64_t track : {1u, 99u, 100u, 5000u, 9999u}) {
    SCOPED_TRACE(track);
    const std::string name = "out/many-" + std::string(track < 10 ? "0" : "") + std::to_string(track) + ".wav";
    EXPECT_EQ(read_file(t / name), canonical_wav(2, 44100, 16, slice(data, (track - 1) * BLOCK, BLOCK)));
  }
  EXPECT_EQ(read_file(t / "out/many-10000.wav"), canonical_wav(2, 44100, 16, slice(data, 9999 * BLOCK, BLOCK + 100)));
}

}  // namespace
