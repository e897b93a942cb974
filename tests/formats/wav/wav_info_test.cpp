#include "formats/wav/wav_info.h"

#include <gtest/gtest.h>

#include "formats/registry.h"
#include "formats/wav/wav.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(WavInfo, ChunkLayout) {
  TrackTags tags;
  tags.title = "Ab";
  tags.track_number = 3;
  tags.track_total = 12;
  // INAM holds 3 bytes and a pad byte; ITRK 2 bytes.
  const std::string expected("LIST\x1A\0\0\0INFO"
                             "INAM\x03\0\0\0Ab\0\0"
                             "ITRK\x02\0\0\0" "3\0",
                             34);
  EXPECT_EQ(wav_info_chunk(tags), expected);
  EXPECT_EQ(wav_info_chunk(TrackTags{}), "");
  EXPECT_EQ(wav_info_chunk(TrackTags{"", "", "", "", "", 0, 12}), "");

  const TrackTags all{"T", "Ar", "Al", "1999", "Jazz", 1, 2};
  EXPECT_EQ(wav_info_chunk(all), std::string("LIST\x4C\0\0\0INFO"
                                             "INAM\x02\0\0\0T\0"
                                             "IART\x03\0\0\0Ar\0\0"
                                             "IPRD\x03\0\0\0Al\0\0"
                                             "ITRK\x02\0\0\0" "1\0"
                                             "ICRD\x05\0\0\0" "1999\0\0"
                                             "IGNR\x05\0\0\0Jazz\0\0",
                                             84));
}

// Mono 8-bit 8000 Hz: one byte per sample, so a track may hold an odd number of bytes.
class WavTaggedTrack : public testing::Test {
 protected:
  void SetUp() override {
    data_ = counting_bytes(2001);
    write_file(dir_ / "in.wav", canonical_wav(1, 8000, 8, data_));
    file_ = wav_open_file(*wav_module(), dir_ / "in.wav", nullptr);
    ASSERT_NE(file_, nullptr);
  }
  // The canonical file of the data slice with the chunk behind it (and the pad byte between).
  Bytes expected(std::size_t from, std::size_t count, const std::string& chunk) const {
    Bytes body;
    append_chunk(body, "fmt ", pcm_fmt(1, 8000, 8));
    append_chunk(body, "data", slice(data_, from, count));
    if (count % 2 != 0) body.push_back(0);
    const Bytes tail = bytes_of(chunk);
    body.insert(body.end(), tail.begin(), tail.end());
    return riff_wave(body);
  }

  TempDir dir_;
  Bytes data_;
  AudioFilePtr file_;
};

TEST_F(WavTaggedTrack, ChunkFollowsTheDataAndTheRiffSizeCountsIt) {
  TrackTags tags;
  tags.title = "Intro";
  tags.artist = "The Band";
  tags.track_number = 2;
  const std::string chunk = wav_info_chunk(tags);
  const struct {
    std::uint64_t start, end;
    std::size_t from, count;
  } cases[] = {{0, 1001, 0, 1001}, {1001, 0, 1001, 1000}, {2001, 0, 2001, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    const std::string out = dir_ / "out.wav";
    ASSERT_EQ(format_write_track(*file_, {.path = out, .start = c.start, .end = c.end, .tags = &tags}), 0);
    EXPECT_EQ(read_file(out), expected(c.from, c.count, chunk));
  }
  // Tags that give nothing leave the canonical file.
  const TrackTags none;
  const std::string plain = dir_ / "plain.wav";
  ASSERT_EQ(format_write_track(*file_, {.path = plain, .end = 1001, .tags = &none}), 0);
  EXPECT_EQ(read_file(dir_ / "plain.wav"), canonical_wav(1, 8000, 8, slice(data_, 0, 1001)));
}

}  // namespace
