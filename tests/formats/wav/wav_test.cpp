#include "formats/wav/wav.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "formats/registry.h"
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

Bytes extensible_fmt(std::uint16_t sub_format) { return tfold_test::extensible_fmt(2, 48000, 24, 24, 3, sub_format); }

// An RF64 file whose ds64 gives the data size; the data chunk's own size says "see ds64".
Bytes rf64_file(const Bytes& data, const std::string& magic = "RF64") {
  Bytes body;
  append_chunk(body, "ds64", ds64_contents(4 + 36 + 24 + 8 + data.size() + 12, data.size(), data.size() / 4));
  append_chunk(body, "fmt ", pcm_fmt(2, 44100, 16));
  append_chunk_declared(body, "data", 0xFFFFFFFFu, data);
  append_chunk(body, "LIST", Bytes(4, 'L'));
  return rf64_wave(body, magic);
}

// Broadcast WAVE as field recorders write it: bext, iXML of odd size, LIST and cue around fmt.
Bytes broadcast_wave(const Bytes& data) {
  Bytes body;
  append_padded_chunk(body, "bext", Bytes(602, 'B'));
  append_padded_chunk(body, "fmt ", pcm_fmt(2, 44100, 16));
  append_padded_chunk(body, "iXML", Bytes(11, 'X'));
  Bytes info;
  append_text(info, "INFO");
  append_padded_chunk(info, "INAM", Bytes(13, 'n'));
  append_padded_chunk(body, "LIST", info);
  Bytes cue;  // one cue point at the first sample
  for (const std::uint32_t field : {1u, 1u, 0u}) append_le32(cue, field);
  append_text(cue, "data");
  for (int i = 0; i < 3; ++i) append_le32(cue, 0);
  append_padded_chunk(body, "cue ", cue);
  append_padded_chunk(body, "data", data);
  append_padded_chunk(body, "LIST", Bytes(5, 'T'));
  return riff_wave(body);
}

TEST(WavReader, AcceptsTheHeadersItUnderstands) {
  const Bytes data = counting_bytes(400);
  Bytes fmt18 = pcm_fmt(2, 44100, 16);
  fmt18.insert(fmt18.end(), {0, 0});
  Bytes odd_chunks;
  append_padded_chunk(odd_chunks, "junk", Bytes(3, 'j'));
  append_padded_chunk(odd_chunks, "fmt ", pcm_fmt(2, 44100, 16));
  append_padded_chunk(odd_chunks, "iXML", Bytes(5, 'x'));
  append_padded_chunk(odd_chunks, "data", data);
  // Writers that leave the pad byte out: the next chunk's id follows at once.
  Bytes unpadded;
  append_chunk(unpadded, "junk", Bytes(3, 'j'));
  append_chunk(unpadded, "fmt ", pcm_fmt(2, 44100, 16));
  append_chunk(unpadded, "iXML", Bytes(5, 'x'));
  append_chunk(unpadded, "data", data);
  Bytes listed_in_ds64;
  append_chunk(listed_in_ds64, "ds64", ds64_contents(530, 400, 100, {{"JUNK", 6}}));
  append_chunk_declared(listed_in_ds64, "JUNK", 0xFFFFFFFFu, Bytes(6, 'J'));
  append_chunk(listed_in_ds64, "fmt ", pcm_fmt(2, 44100, 16));
  append_chunk_declared(listed_in_ds64, "data", 0xFFFFFFFFu, data);

  const SampleInfo cd{2, 44100, 176400, 4, 16, 400, 2352};
  const struct {
    const char* name;
    Bytes bytes;
    std::int64_t data_offset;
    SampleInfo si;
    std::vector<std::string> warnings;
  } cases[] = {
      {"canonical", canonical_wav(2, 44100, 16, data), 44, cd, {}},
      {"LIST before data",
       with_chunks({{"fmt ", pcm_fmt(1, 22050, 8)}, {"LIST", Bytes(10)}, {"data", data}}),
       62,
       {1, 22050, 22050, 1, 8, 400, 294},
       {"Chunk LIST is not a Format Chunk"}},
      {"fmt of 18 bytes", with_chunks({{"fmt ", fmt18}, {"data", data}}), 46, cd, {}},
      {"extensible PCM", with_chunks({{"fmt ", extensible_fmt(1)}, {"data", data}}), 68,
       {2, 48000, 288000, 6, 24, 400, 3840}, {}},
      // Each odd-sized chunk is followed by its pad byte.
      {"odd chunks before and after fmt", riff_wave(odd_chunks), 70, cd,
       {"Chunk junk is not a Format Chunk", "Chunk iXML is not a Format Chunk"}},
      {"odd chunks without their pad byte", riff_wave(unpadded), 68, cd,
       {"Chunk junk is not a Format Chunk", "Chunk iXML is not a Format Chunk"}},
      {"broadcast wave", broadcast_wave(data), 744, cd,
       {"Chunk bext is not a Format Chunk", "Chunk iXML is not a Format Chunk",
        "Chunk LIST is not a Format Chunk", "Chunk cue  is not a Format Chunk"}},
      {"zero fields", with_chunks({{"fmt ", fmt_contents(1, 0, 0, 0, 0, 0)}, {"data", data}}), 44,
       {0, 0, 0, 0, 0, 400, 0}, {}},
      // The data size comes from ds64; the LIST chunk after the data is not audio.
      {"RF64", rf64_file(data), 80, cd, {}},
      {"BW64", rf64_file(data, "BW64"), 80, cd, {}},
      {"RF64 with a chunk size in the ds64 table", rf64_wave(listed_in_ds64), 106, cd,
       {"Chunk JUNK is not a Format Chunk"}},
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
    Bytes first(16);
    ASSERT_EQ(wav_read_data(*opened.file, first, 0), 16);
    EXPECT_EQ(first, slice(data, 0, 16));
  }
}

TEST(WavReader, KeepsTheExtensibleLayout) {
  TempDir dir;
  // 5.1 in 24 of 32 bits: the mask names the six speakers.
  const Opened opened =
      open_bytes(dir, with_chunks({{"fmt ", tfold_test::extensible_fmt(6, 48000, 32, 24, 0x3F)}, {"data", Bytes(240)}}));
  ASSERT_NE(opened.file, nullptr) << opened.error.value_or("");
  ASSERT_TRUE(opened.wav()->extensible.has_value());
  EXPECT_EQ(opened.wav()->extensible->validBitsPerSample, 24u);
  EXPECT_EQ(opened.wav()->extensible->channelMask, 0x3Fu);
  EXPECT_EQ(opened.wav()->extensible->subFormat[0], 1u);
  EXPECT_EQ(opened.file->si.blockAlign, 24u);
  const Opened plain = open_bytes(dir, canonical_wav(2, 44100, 16, Bytes(8)));
  EXPECT_FALSE(plain.wav()->extensible.has_value());
}

TEST(WavReader, RefusesWithTheReason) {
  Bytes no_wave = with_chunks({{"fmt ", pcm_fmt(2, 44100, 16)}, {"data", Bytes(4)}});
  std::copy_n("JUNK", 4, no_wave.begin());
  std::copy_n("WAVX", 4, no_wave.begin() + 8);
  Bytes renamed_form = with_chunks({{"fmt ", pcm_fmt(2, 44100, 16)}, {"data", Bytes(4)}});
  std::copy_n("WAVX", 4, renamed_form.begin() + 8);
  Bytes renamed_riff = with_chunks({{"fmt ", pcm_fmt(2, 44100, 16)}, {"data", Bytes(4)}});
  std::copy_n("JUNK", 4, renamed_riff.begin());
  Bytes cut_in_chunk_header = with_chunks({{"fmt ", pcm_fmt(2, 44100, 16)}});
  cut_in_chunk_header.insert(cut_in_chunk_header.end(), {'d', 'a', 't'});
  Bytes huge_skip = riff_wave({});
  append_chunk(huge_skip, "fmt ", pcm_fmt(2, 44100, 16));
  append_chunk_declared(huge_skip, "LIST", 0x80000000u, Bytes(16));
  append_chunk(huge_skip, "data", Bytes(4));
  Bytes short_ds64;
  append_chunk(short_ds64, "ds64", Bytes(20));
  Bytes beyond_any_file;
  append_chunk(beyond_any_file, "ds64", ds64_contents(100, 8, 2, {{"JUNK", ~0ull}}));
  append_chunk_declared(beyond_any_file, "JUNK", 0xFFFFFFFFu, Bytes(8));

  const struct {
    const char* name;
    Bytes bytes;
    std::string reason;
  } cases[] = {
      {"shorter than the file header", Bytes{'R', 'I', 'F', 'F', 0, 0}, "Cannot read wave header."},
      {"neither RIFF nor WAVE", no_wave, "is not a wave file."},
      {"RIFF with another form type", renamed_form, "is not a wave file."},
      {"WAVE without RIFF", renamed_riff, "is not a wave file."},
      {"floating point", with_chunks({{"fmt ", fmt_contents(3, 2, 44100, 352800, 8, 32)}, {"data", Bytes(8)}}),
       "IEEE float WAV is not supported"},
      {"extensible float", with_chunks({{"fmt ", extensible_fmt(3)}, {"data", Bytes(8)}}),
       "IEEE float WAV is not supported"},
      {"A-law", with_chunks({{"fmt ", fmt_contents(6, 1, 8000, 8000, 1, 8)}, {"data", Bytes(8)}}),
       "Loading compressed wave data is not supported."},
      {"extensible without its extension", with_chunks({{"fmt ", fmt_contents(0xFFFE, 2, 44100, 176400, 4, 16)}, {"data", Bytes(8)}}),
       "Loading compressed wave data is not supported."},
      {"truncated chunk header", cut_in_chunk_header, TRUNCATED},
      {"no data chunk", with_chunks({{"fmt ", pcm_fmt(2, 44100, 16)}, {"LIST", Bytes(4)}}), TRUNCATED},
      {"format chunk cut short", riff_wave(Bytes{'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0}),
       "Error reading format chunk: unexpected end of file"},
      {"format chunk of 14 bytes", with_chunks({{"fmt ", slice(pcm_fmt(2, 44100, 16), 0, 14)}, {"data", Bytes(4)}}),
       "Error reading format chunk: the chunk is shorter than 16 bytes"},
      {"skipped chunk of 2^31 bytes", huge_skip, TRUNCATED},
      {"ds64 shorter than its fields", rf64_wave(short_ds64), "Error reading ds64 chunk of RF64 file."},
      {"ds64 size beyond any file", rf64_wave(beyond_any_file), "Error seeking to 4294967295 in"},
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

// The declared size is believed as far as the bytes behind the data chunk's header go.
TEST(WavReader, ClampsDataLargerThanTheFile) {
  const struct {
    const char* name;
    std::uint32_t declared;
    std::uint64_t expected_size;
    std::uint64_t declared_size;  // all bits set says no size at all
    std::string warning;
  } cases[] = {
      {"larger than the file", 1000, 56, 1000,
       "Real file size is 100, but wave header says it should be 1044. Using real file size instead."},
      {"all bits set", 0xFFFFFFFFu, 56, 56,
       "Real file size is 100, but wave header says it should be 4294967339. Using real file size instead."},
      {"smaller than the file, larger than the data", 90, 56, 90,
       "Real file size is 100, but wave header says it should be 134. Using real file size instead."},
      {"exactly the data", 56, 56, 56, ""},
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
    EXPECT_EQ(opened.wav()->declared_size, c.declared_size);
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
  EXPECT_TRUE(log.warnings().empty());
  Bytes buffer(64);
  EXPECT_EQ(wav_read_data(*file, buffer, marker_offset), 64);
  EXPECT_EQ(buffer, marker);

  const std::string out = dir / "tail.wav";
  ASSERT_EQ(format_write_track(*file, {.path = out, .start = marker_offset, .end = marker_offset + 64}), 0);
  EXPECT_EQ(slice(read_file(out), 44, 64), marker);
}

// A valid file between 2 and 4 GiB states its size exactly; what follows the data is a tag.
TEST(WavReader, BelievesAnExactSizeBetweenTwoAndFourGibibytes) {
  TempDir dir;
  const std::string path = dir / "three.wav";
  constexpr std::uint64_t data_size = 0xC0000000;
  Bytes body;
  append_chunk(body, "fmt ", pcm_fmt(2, 96000, 16));
  append_chunk_declared(body, "data", static_cast<std::uint32_t>(data_size), {});
  write_file(path, riff_wave(body));
  std::filesystem::resize_file(path, 44 + data_size);
  const Bytes last_frames = counting_bytes(8, 3);
  Bytes tag;
  append_chunk(tag, "LIST", Bytes(4, 'T'));
  {
    FilePtr fp(std::fopen(path.c_str(), "r+b"));
    ASSERT_TRUE(fp);
    ASSERT_EQ(fseeko(fp.get(), static_cast<off_t>(44 + data_size - 8), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(last_frames.data(), 1, 8, fp.get()), 8u);
    ASSERT_EQ(std::fwrite(tag.data(), 1, tag.size(), fp.get()), tag.size());
  }
  LogCapture log;
  AudioFilePtr file = wav_open_file(*wav_module(), path, nullptr);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(log.warnings().empty());
  EXPECT_EQ(file->si.numBytes, data_size);
  const std::string out = dir / "tail.wav";
  ASSERT_EQ(format_write_track(*file, {.path = out, .start = data_size - 8}), 0);
  EXPECT_EQ(read_file(out), canonical_wav(2, 96000, 16, last_frames));
}

// ds64 states the size: 0xFFFFFFFF there is a size like any other, not "to the end of the file".
TEST(WavReader, TakesAllOnesFromDs64AsTheSize) {
  TempDir dir;
  const std::string path = dir / "long.wav";
  constexpr std::uint64_t data_size = 0xFFFFFFFF;
  Bytes tag;
  append_chunk(tag, "LIST", Bytes(4, 'T'));
  Bytes body;
  append_chunk(body, "ds64", ds64_contents(4 + 36 + 24 + 8 + data_size + 1 + tag.size(), data_size, data_size));
  append_chunk(body, "fmt ", pcm_fmt(1, 8000, 8));
  append_chunk_declared(body, "data", 0xFFFFFFFFu, {});
  const Bytes header = rf64_wave(body);
  write_file(path, header);
  std::filesystem::resize_file(path, header.size() + data_size);
  {
    FilePtr fp(std::fopen(path.c_str(), "ab"));
    ASSERT_TRUE(fp);
    ASSERT_EQ(std::fputc(0, fp.get()), 0);  // the pad byte
    ASSERT_EQ(std::fwrite(tag.data(), 1, tag.size(), fp.get()), tag.size());
  }
  LogCapture log;
  AudioFilePtr file = wav_open_file(*wav_module(), path, nullptr);
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(log.warnings().empty());
  EXPECT_EQ(file->si.numBytes, data_size);
  Bytes beyond(16);
  EXPECT_EQ(wav_read_data(*file, beyond, data_size), 0);
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
    const std::string out = dir_ / "out.wav";
    return format_write_track(*file_, {.path = out, .start = start, .end = end, .progress = ProgressLog::record,
                                       .user_data = progress ? progress : &unused_});
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
  EXPECT_EQ(format_write_track(*file_, {.path = out}), -1);
  EXPECT_EQ(log.warnings(),
            std::vector<std::string>{"Error opening " + out + " for writing: No such file or directory"});
}

// A 5.1 source gives 5.1 tracks: the extensible format chunk goes with them, and a track of an
// RF64 source that fits 32 bits is a plain RIFF file.
TEST(WavWriteRangeOf, KeepsTheSourcesLayout) {
  const Bytes data = counting_bytes(24 * 20, 4);
  const Bytes five_one = tfold_test::extensible_fmt(6, 48000, 32, 24, 0x3F);
  const struct {
    const char* name;
    Bytes source;
    Bytes track;  // of the frames 1 to 11
  } cases[] = {
      {"extensible", with_chunks({{"fmt ", five_one}, {"data", data}}),
       with_chunks({{"fmt ", five_one}, {"data", slice(data, 24, 240)}})},
      {"RF64", rf64_file(slice(data, 0, 400)), canonical_wav(2, 44100, 16, slice(data, 24, 240))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const Opened opened = open_bytes(dir, c.source);
    ASSERT_NE(opened.file, nullptr) << opened.error.value_or("");
    const std::string out = dir / "out.wav";
    ASSERT_EQ(format_write_track(*opened.file, {.path = out, .start = 24, .end = 264}), 0);
    EXPECT_EQ(read_file(dir / "out.wav"), c.track);
  }
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

Bytes header_bytes(const WavHeader& header) {
  TempDir dir;
  const std::string path = dir / "h.wav";
  {
    FilePtr fp(std::fopen(path.c_str(), "wb"));
    EXPECT_EQ(wav_write_header(fp.get(), header), 0);
  }
  return read_file(path);
}

TEST(WavWriteHeader, SwitchesToRf64WhereTheRiffSizeEnds) {
  const SampleInfo si{2, 44100, 176400, 4, 16, 0, 2352};
  // The largest length a RIFF size holds: 0xFFFFFFDB + 36 = 0xFFFFFFFF.
  const WavHeader largest_riff = wav_plan_header(si, std::nullopt, 0xFFFFFFFFull - 36);
  EXPECT_FALSE(largest_riff.rf64);
  const Bytes riff = header_bytes(largest_riff);
  ASSERT_EQ(riff.size(), 44u);
  EXPECT_EQ(slice(riff, 4, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(slice(riff, 40, 4), (Bytes{0xDB, 0xFF, 0xFF, 0xFF}));

  const WavHeader one_more = wav_plan_header(si, std::nullopt, 0xFFFFFFFFull - 35);
  EXPECT_TRUE(one_more.rf64);
  EXPECT_EQ(wav_header_size(one_more), 80u);
  const Bytes expected = {
      'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E',
      'd', 's', '6', '4', 28, 0, 0, 0,
      0x24, 0, 0, 0, 1, 0, 0, 0,           // RIFF size: 72 + 0xFFFFFFDC
      0xDC, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0,  // data size
      0xF7, 0xFF, 0xFF, 0x3F, 0, 0, 0, 0,  // sample frames: data size / 4
      0, 0, 0, 0,                          // no table
      'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0,
      'd', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(header_bytes(one_more), expected);
  // The same through the plain writer, which merge and gen use.
  TempDir dir;
  {
    FilePtr fp(std::fopen((dir / "plain.wav").c_str(), "wb"));
    ASSERT_EQ(wav_write_header(fp.get(), si, 0xFFFFFFFFull - 35), 0);
  }
  EXPECT_EQ(read_file(dir / "plain.wav"), expected);
}

TEST(WavWriteHeader, ChunksBehindTheDataCountInTheRiffSize) {
  const SampleInfo si{2, 44100, 176400, 4, 16, 0, 2352};
  const Bytes riff = header_bytes(wav_plan_header(si, std::nullopt, 100, 30));
  EXPECT_EQ(slice(riff, 4, 4), (Bytes{166, 0, 0, 0}));  // 36 + 100 + 30
  EXPECT_EQ(slice(riff, 40, 4), (Bytes{100, 0, 0, 0}));
  EXPECT_FALSE(wav_plan_header(si, std::nullopt, 0xFFFFFFFFull - 66, 30).rf64);
  const WavHeader rf64 = wav_plan_header(si, std::nullopt, 0xFFFFFFFFull - 65, 30);
  EXPECT_TRUE(rf64.rf64);
  // The RIFF size of ds64: 72 + 0xFFFFFFBE + 30.
  EXPECT_EQ(slice(header_bytes(rf64), 20, 8), (Bytes{0x24, 0, 0, 0, 1, 0, 0, 0}));
}

TEST(WavWriteHeader, WritesTheExtensibleLayout) {
  const SampleInfo si{6, 48000, 1152000, 24, 32, 0, 15360};
  WavExtensible extensible;
  extensible.validBitsPerSample = 24;
  extensible.channelMask = 0x3F;
  extensible.subFormat = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  const WavHeader header = wav_plan_header(si, extensible, 240);
  const Bytes expected = {
      'R', 'I', 'F', 'F', 0x2C, 1, 0, 0, 'W', 'A', 'V', 'E',  // 60 + 240
      'f', 'm', 't', ' ', 40, 0, 0, 0,
      0xFE, 0xFF, 6, 0, 0x80, 0xBB, 0, 0, 0x00, 0x94, 0x11, 0, 24, 0, 32, 0,
      22, 0, 24, 0, 0x3F, 0, 0, 0,
      1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71,
      'd', 'a', 't', 'a', 0xF0, 0, 0, 0};
  EXPECT_EQ(header_bytes(header), expected);
  // 60 header bytes before the data count against the RIFF size: RF64 comes 24 bytes sooner.
  EXPECT_FALSE(wav_plan_header(si, extensible, 0xFFFFFFFFull - 60).rf64);
  const WavHeader rf64 = wav_plan_header(si, extensible, 0xFFFFFFFFull - 59);
  EXPECT_TRUE(rf64.rf64);
  EXPECT_EQ(header_bytes(rf64).size(), 104u);
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
