#include "formats/flac/flac.h"

#include <gtest/gtest.h>

#include <FLAC/stream_encoder.h>

#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "document/document_fixtures.h"
#include "formats/flac/flac_encoder.h"
#include "formats/registry.h"
#include "formats/wav/wav.h"
#include "support/harness.h"
#include "support/log_capture.h"
#include "support/module_reads.h"
#include "support/tools.h"

namespace {

using namespace tfold_test;

AudioFilePtr open_flac(const std::string& path, ErrorText* error = nullptr) {
  return flac_open_file(*flac_module(), path, error);
}

// The sample bytes of the WAV that the FLAC fixture was encoded from.
Bytes wav_pcm(const std::string& name) {
  AudioFilePtr wav = wav_open_file(*wav_module(), fixture(name).string(), nullptr);
  EXPECT_NE(wav, nullptr) << name;
  if (!wav) return {};
  Bytes all(static_cast<std::size_t>(wav->si.numBytes));
  EXPECT_EQ(wav_read_data(*wav, all, 0), static_cast<std::int64_t>(all.size()));
  return all;
}

// Tags in front of the stream are passed over by their stated size; bytes that only look
// like a tag header hide no stream.
TEST(FlacOpen, FindsTheStreamBehindId3v2Tags) {
  const Bytes stream = read_file(fixture("flac_mono48.flac"));
  const struct {
    const char* what;
    Bytes header;
    std::size_t body_bytes;
    bool opens;
  } cases[] = {
      {"empty v2.3 tag", {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0}, 0, true},
      {"seven bits a size byte", {'I', 'D', '3', 4, 0, 0, 0, 0, 0x01, 0x7F}, 255, true},
      {"v2.4 footer", {'I', 'D', '3', 4, 0, 0x10, 0, 0, 0, 20}, 20 + 10, true},
      {"two tags", {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0, 'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0}, 0, true},
      {"size byte with its top bit", {'I', 'D', '3', 3, 0, 0, 0, 0, 0x80, 0}, 128, false},
      {"version 0xFF", {'I', 'D', '3', 0xFF, 0, 0, 0, 0, 0, 0}, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    Bytes bytes = c.header;
    bytes.insert(bytes.end(), c.body_bytes, 0);
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    write_file(dir / "tagged.flac", bytes);
    ErrorText error;
    AudioFilePtr file = open_flac(dir / "tagged.flac", &error);
    EXPECT_EQ(file != nullptr, c.opens) << error.value_or("");
    if (file) {
      EXPECT_EQ(file->si.numBytes, 960000u);
    } else {
      EXPECT_EQ(error, "No FLAC signature");
    }
  }
}

TEST(FlacOpen, DescribesTheStreamAsPcmOfItsOwnDepth) {
  const struct {
    const char* name;
    std::uint32_t channels, rate, bits, block_align, bytes_per_sec;
    std::uint64_t buffer_size, num_bytes;
  } cases[] = {
      {"flac_stereo44.flac", 2, 44100, 16, 4, 176400, 2352, 1764000},
      {"flac_stereo96_24.flac", 2, 96000, 24, 6, 576000, 7680, 5760000},
      {"flac_mono48.flac", 1, 48000, 16, 2, 96000, 1280, 960000},
      {"flac_stereo8.flac", 2, 8000, 16, 4, 32000, 426, 384000},
      {"flac_mono8bit.flac", 1, 22050, 8, 1, 22050, 294, 22050},
      {"flac_6ch24.flac", 6, 48000, 24, 18, 864000, 11520, 864000},
      {"flac_id3.flac", 1, 48000, 16, 2, 96000, 1280, 960000},
      // STREAMINFO does not say; decoding measures it.
      {"flac_unknown_length.flac", 1, 48000, 16, 2, 96000, 1280, 960000},
      // STREAMINFO's length, whatever is left of the file.
      {"flac_truncated.flac", 2, 44100, 16, 4, 176400, 2352, 1764000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioFilePtr file = open_flac(fixture(c.name));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->si.channels, c.channels);
    EXPECT_EQ(file->si.samplesPerSec, c.rate);
    EXPECT_EQ(file->si.bitsPerSample, c.bits);
    EXPECT_EQ(file->si.blockAlign, c.block_align);
    EXPECT_EQ(file->si.avgBytesPerSec, c.bytes_per_sec);
    EXPECT_EQ(file->si.bufferSize, c.buffer_size);
    EXPECT_EQ(file->si.numBytes, c.num_bytes);
    EXPECT_TRUE(file->exact_length);
    ASSERT_TRUE(file->details.has_value());
    const std::regex details("reference libFLAC [0-9.]+ [0-9]{8}, " + std::to_string(c.bits) +
                             " bit, compression ratio 0\\.[0-9]{3}");
    EXPECT_TRUE(std::regex_match(*file->details, details)) << *file->details;
  }
}

TEST(FlacOpen, RefusesWhatIsNoFlacStream) {
  TempDir dir;
  // Blocks of at least 8192 samples and at most 4096: frame numbers would map to two places.
  Bytes contradicting_blocks = read_file(fixture("flac_mono48.flac"));
  contradicting_blocks[8] = 0x20;
  contradicting_blocks[9] = 0x00;
  const struct {
    const char* what;
    Bytes bytes;
    const char* reason;
  } cases[] = {
      {"text", {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o', '\n'}, "No FLAC signature"},
      {"empty", {}, "No FLAC signature"},
      {"an ID3 tag and nothing behind it", {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0}, "No FLAC signature"},
      {"the signature alone", {'f', 'L', 'a', 'C'}, "Cannot read FLAC file "},
      {"contradicting block sizes", contradicting_blocks, "Unsupported FLAC format in "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir / "input.flac";
    write_file(path, c.bytes);
    LogCapture log;
    ErrorText error;
    EXPECT_EQ(open_flac(path, &error), nullptr);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->rfind(c.reason, 0), 0u) << *error;
  }
}

// Every fixture decodes to exactly the samples of the WAV it was made from, with 8-bit PCM
// unsigned as in WAV.
TEST(FlacRead, GivesTheSamplesOfTheSourceWav) {
  const struct {
    const char* flac;
    const char* wav;
  } cases[] = {
      {"flac_stereo44.flac", "flac_stereo44.wav"},
      {"flac_stereo96_24.flac", "flac_stereo96_24.wav"},
      {"flac_stereo8.flac", "flac_stereo8.wav"},
      {"flac_mono8bit.flac", "flac_mono8bit.wav"},
      {"flac_mono32.flac", "flac_mono32.wav"},
      {"flac_6ch24.flac", "flac_6ch24.wav"},
      {"flac_id3.flac", "flac_mono48.wav"},
      {"flac_unknown_length.flac", "flac_mono48.wav"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flac);
    const Bytes expected = wav_pcm(c.wav);
    AudioFilePtr file = open_flac(fixture(c.flac));
    ASSERT_NE(file, nullptr);
    LogCapture log;
    EXPECT_TRUE(read_through(*file, file->si.bufferSize) == expected);
    EXPECT_EQ(log.warnings(), std::vector<std::string>{});
  }
}

TEST(FlacRead, ReadsAnywhereGiveTheSameBytesAsReadingThrough) {
  for (const char* name : {"flac_stereo96_24.flac", "flac_stereo8.flac"}) {
    SCOPED_TRACE(name);
    AudioFilePtr file = open_flac(fixture(name));
    ASSERT_NE(file, nullptr);
    const Bytes all = read_through(*file, 65536);
    ASSERT_EQ(all.size(), file->si.numBytes);
    // Backwards, inside frames and samples, across frame boundaries, the very end.
    std::mt19937_64 random(17);
    std::vector<std::pair<std::uint64_t, std::size_t>> reads = {
        {all.size() - 10, 4096}, {0, 1}, {1, 4095}, {4096 * 6 - 3, 9}, {all.size() / 2 + 1, 100000}};
    for (int i = 0; i < 20; ++i) reads.emplace_back(random() % all.size(), random() % 50000 + 1);
    for (const auto& [offset, length] : reads) {
      SCOPED_TRACE(offset);
      const ReadResult r = read_at(*file, offset, length);
      const std::size_t expected = std::min<std::size_t>(length, all.size() - offset);
      EXPECT_EQ(r.result, static_cast<std::int64_t>(expected));
      EXPECT_TRUE(r.bytes == slice(all, offset, expected));
    }
    EXPECT_EQ(read_at(*file, all.size(), 100).result, 0);
    EXPECT_EQ(read_at(*file, all.size() + 1, 100).result, -1);
  }
}

TEST(FlacRead, BadStreamsWarnNamingTheFile) {
  const struct {
    const char* name;
    std::uint64_t good_bytes;  // what reading through delivers before it stops
    const char* warning;
  } cases[] = {
      {"flac_truncated.flac", 282624 * 4, "after sample 282624: the stream ends inside a frame: the file is truncated"},
      {"flac_damaged.flac", 266240 * 2, "after sample 266240: lost sync"},
      // Every sample decodes; only the whole stream's signature is wrong.
      {"flac_bad_md5.flac", 384000, "fails its MD5 check: its decoded audio is not what was encoded"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AudioFilePtr file = open_flac(fixture(c.name));
    ASSERT_NE(file, nullptr);
    LogCapture log;
    Bytes all;
    for (;;) {
      const ReadResult r = read_at(*file, all.size(), file->si.bufferSize);
      if (r.result <= 0) break;
      all.insert(all.end(), r.bytes.begin(), r.bytes.end());
    }
    EXPECT_EQ(all.size(), c.good_bytes);
    ASSERT_EQ(log.warnings().size(), 1u) << log.text();
    EXPECT_NE(log.warnings()[0].find(fixture(c.name).string()), std::string::npos) << log.text();
    EXPECT_NE(log.warnings()[0].find(c.warning), std::string::npos) << log.text();
  }
}

// One frame of 192 samples of 8-bit mono at 22050 Hz, as libFLAC encodes it.
Bytes encode_frame_of(const std::string& path, FLAC__int32 (*sample)(int)) {
  std::unique_ptr<FLAC__StreamEncoder, decltype(&FLAC__stream_encoder_delete)> encoder(
      FLAC__stream_encoder_new(), FLAC__stream_encoder_delete);
  EXPECT_TRUE(encoder);
  if (!encoder) return {};
  FLAC__stream_encoder_set_channels(encoder.get(), 1);
  FLAC__stream_encoder_set_bits_per_sample(encoder.get(), 8);
  FLAC__stream_encoder_set_sample_rate(encoder.get(), 22050);
  FLAC__stream_encoder_set_blocksize(encoder.get(), 192);
  EXPECT_EQ(FLAC__stream_encoder_init_file(encoder.get(), path.c_str(), nullptr, nullptr),
            FLAC__STREAM_ENCODER_INIT_STATUS_OK);
  std::vector<FLAC__int32> samples;
  for (int i = 0; i < 192; ++i) samples.push_back(sample(i));
  const FLAC__int32* channels[] = {samples.data()};
  EXPECT_TRUE(FLAC__stream_encoder_process(encoder.get(), channels, 192));
  EXPECT_TRUE(FLAC__stream_encoder_finish(encoder.get()));
  return read_file(path);
}

// Where the first frame of a stream begins: behind "fLaC" and every metadata block.
std::size_t first_frame(const Bytes& stream) {
  std::size_t at = 4;
  for (bool last = false; !last && at + 4 <= stream.size();) {
    last = (stream[at] & 0x80) != 0;
    at += 4 + (std::size_t{stream[at + 1]} << 16 | std::size_t{stream[at + 2]} << 8 | stream[at + 3]);
  }
  return at;
}

// A stream whose frame 0 is followed by a second frame 0 of other samples, behind a seek
// point aimed at that second frame: libFLAC's seek finds the sample in the second, reading
// from the start finds it in the first (found by fuzzing, with frame numbers that overlap).
TEST(FlacRead, ReadsByPositionGiveWhatReadingFromTheStartGives) {
  TempDir dir;
  const Bytes first = encode_frame_of(dir / "first.flac", [](int i) { return FLAC__int32{i % 50 - 25}; });
  const Bytes second = encode_frame_of(dir / "second.flac", [](int i) { return FLAC__int32{100 - i % 30}; });
  const std::size_t first_at = first_frame(first);
  const std::size_t second_at = first_frame(second);
  const std::size_t frame_bytes = first.size() - first_at;
  // "fLaC", STREAMINFO no longer last, then a SEEKTABLE of one point: sample 0 lies at the
  // second frame, 192 samples.
  Bytes stream(first.begin(), first.begin() + 8 + 34);
  stream[4] &= 0x7F;
  const Bytes seek_table = {0x83, 0, 0, 18, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            static_cast<std::uint8_t>(frame_bytes >> 8), static_cast<std::uint8_t>(frame_bytes),
                            0, 192};
  stream.insert(stream.end(), seek_table.begin(), seek_table.end());
  stream.insert(stream.end(), first.begin() + static_cast<std::ptrdiff_t>(first_at), first.end());
  stream.insert(stream.end(), second.begin() + static_cast<std::ptrdiff_t>(second_at), second.end());
  write_file(dir / "repeated.flac", stream);

  AudioFilePtr file = open_flac(dir / "repeated.flac");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(file->si.numBytes, 192u);
  LogCapture log;
  const Bytes all = read_through(*file, 192);
  // 8-bit PCM is unsigned: sample 6 of the first frame is 6 - 25, of the second 94.
  EXPECT_EQ(all[6], 128 - 19);
  for (const std::uint64_t offset : {191u, 100u, 6u, 1u, 0u}) {
    SCOPED_TRACE(offset);
    EXPECT_TRUE(read_at(*file, offset, 192).bytes == slice(all, offset, 192 - offset));
  }
  EXPECT_EQ(log.warnings(), std::vector<std::string>{});
}

// A frame whose CRC fails takes only its own samples: reads that need them fail naming the
// file and the frame's byte offset, reads behind it give the intact stream's samples.
TEST(FlacRead, AFrameWhoseCrcFailsLosesOnlyItsOwnSamples) {
  AudioFilePtr clean = open_flac(fixture("flac_mono48.flac"));
  AudioFilePtr damaged = open_flac(fixture("flac_bad_crc.flac"));
  ASSERT_TRUE(clean && damaged);
  constexpr std::uint64_t FRAME_60 = 245760 * 2;  // 4096 samples of 2 bytes a frame
  const struct {
    std::uint64_t offset;
    std::size_t length;
    std::int64_t result;
  } cases[] = {
      {FRAME_60 - 4000, 4000, 4000},  // the frame before
      {FRAME_60 + 8192, 9000, 9000},  // the frame behind, read first by position
      {900000, 60000, 60000},         // to the end
      {FRAME_60 + 100, 10, -1},       // inside the damaged frame
      {FRAME_60 - 4000, 5000, 4000},  // into it: the bytes before it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    LogCapture log;
    const ReadResult r = read_at(*damaged, c.offset, c.length);
    EXPECT_EQ(r.result, c.result);
    if (c.result > 0) {
      EXPECT_TRUE(r.bytes == read_at(*clean, c.offset, static_cast<std::size_t>(c.result)).bytes);
      continue;
    }
    ASSERT_EQ(log.warnings().size(), 1u) << log.text();
    EXPECT_NE(log.warnings()[0].find(fixture("flac_bad_crc.flac").string()), std::string::npos) << log.text();
    EXPECT_NE(log.warnings()[0].find("the frame at byte " + flac_frame_offset(fixture("flac_mono48.flac"), 60) +
                                     " is damaged: frame CRC mismatch"),
              std::string::npos)
        << log.text();
  }
}

// A depth that fills no whole bytes: 20 bits, encoded here since the flac tool takes only
// 8, 16, 24 and 32 from raw input.
class TwentyBitStream : public ::testing::Test {
 protected:
  static constexpr FLAC__int32 SAMPLES[] = {1, -1, 0, 524287, -524288, 0x12345};

  void SetUp() override {
    path_ = dir_ / "twenty.flac";
    std::unique_ptr<FLAC__StreamEncoder, decltype(&FLAC__stream_encoder_delete)> encoder(
        FLAC__stream_encoder_new(), FLAC__stream_encoder_delete);
    ASSERT_TRUE(encoder);
    FLAC__stream_encoder_set_channels(encoder.get(), 1);
    FLAC__stream_encoder_set_bits_per_sample(encoder.get(), 20);
    FLAC__stream_encoder_set_sample_rate(encoder.get(), 7500);  // 100 samples a block
    ASSERT_EQ(FLAC__stream_encoder_init_file(encoder.get(), path_.c_str(), nullptr, nullptr),
              FLAC__STREAM_ENCODER_INIT_STATUS_OK);
    // Two blocks: the six samples again and again.
    std::vector<FLAC__int32> samples;
    for (int i = 0; i < 200; ++i) samples.push_back(SAMPLES[i % 6]);
    const FLAC__int32* channels[] = {samples.data()};
    ASSERT_TRUE(FLAC__stream_encoder_process(encoder.get(), channels, 200));
    ASSERT_TRUE(FLAC__stream_encoder_finish(encoder.get()));
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(TwentyBitStream, SamplesSitAtTheTopOfThreeBytes) {
  AudioFilePtr file = open_flac(path_);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->si.bitsPerSample, 24u);
  EXPECT_EQ(file->si.blockAlign, 3u);
  EXPECT_EQ(file->si.numBytes, 600u);
  const Bytes expected = {0x10, 0x00, 0x00, 0xF0, 0xFF, 0xFF, 0x00, 0x00, 0x00,
                          0xF0, 0xFF, 0x7F, 0x00, 0x00, 0x80, 0x50, 0x34, 0x12};
  EXPECT_TRUE(read_at(*file, 0, 18).bytes == expected);
  EXPECT_TRUE(read_at(*file, 306, 18).bytes == expected);  // sample 102, after a seek
  ASSERT_TRUE(file->details.has_value());
  EXPECT_NE(file->details->find(", 20 bit, "), std::string::npos) << *file->details;
}

TEST_F(TwentyBitStream, TrackKeepsTheDepth) {
  AudioFilePtr file = open_flac(path_);
  ASSERT_NE(file, nullptr);
  const std::string track = dir_ / "track.flac";
  // Block 1 on: samples 100 to 199.
  ASSERT_EQ(format_write_track(*file, {.path = track, .start = format_block_offset(1, file->si), .track_number = 2}), 0);
  AudioFilePtr written = open_flac(track);
  ASSERT_NE(written, nullptr);
  EXPECT_EQ(static_cast<FlacAudioFile&>(*written).stream_info.bits_per_sample, 20u);
  EXPECT_TRUE(read_at(*written, 0, 300).bytes == read_at(*file, 300, 300).bytes);
}

// The analysis sees a FLAC file exactly as it sees the WAV of the same samples.
TEST(FlacAnalysis, SameGraphAsTheSourceWav) {
  for (const char* stem : {"flac_stereo44", "flac_stereo96_24", "flac_stereo8", "flac_mono8bit"}) {
    SCOPED_TRACE(stem);
    AudioDocumentPtr flac = open_document(fixture(std::string(stem) + ".flac"));
    AudioDocumentPtr wav = open_document(fixture(std::string(stem) + ".wav"));
    ASSERT_TRUE(flac && wav);
    wait_analyzed(*flac);
    wait_analyzed(*wav);
    const GraphInfo& a = *audio_document_get_graph(*flac);
    const GraphInfo& b = *audio_document_get_graph(*wav);
    EXPECT_EQ(a.block_count, b.block_count);
    EXPECT_EQ(a.max_sample_value, b.max_sample_value);
    EXPECT_EQ(a.min_range, b.min_range);
    EXPECT_EQ(a.max_range, b.max_range);
    ASSERT_EQ(a.graph_data.size(), b.graph_data.size());
    for (std::size_t i = 0; i < a.graph_data.size(); ++i) {
      ASSERT_EQ(a.graph_data[i].min, b.graph_data[i].min) << i;
      ASSERT_EQ(a.graph_data[i].max, b.graph_data[i].max) << i;
    }
  }
}

TEST(FlacTrackComment, DropsTheFieldsOfTheWholeFileOnly) {
  FlacMetadataPtr comment(FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
  for (const char* field : {"TITLE=Opening", "CUESHEET=FILE \"a.wav\" WAVE", "Log=ripped",
                            "REPLAYGAIN_TRACK_GAIN=-3 dB", "replaygain_track_peak=0.9",
                            "REPLAYGAIN_ALBUM_GAIN=-2 dB", "LOGO=kept", "CUESHEETS=kept",
                            "REPLAYGAIN_TRACK=kept"}) {
    FLAC__StreamMetadata_VorbisComment_Entry entry{};
    ASSERT_TRUE(FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(
        &entry, std::string(field).substr(0, std::string(field).find('=')).c_str(),
        std::string(field).substr(std::string(field).find('=') + 1).c_str()));
    ASSERT_TRUE(FLAC__metadata_object_vorbiscomment_append_comment(comment.get(), entry, false));
  }
  const FlacMetadataPtr kept = flac_track_comment(comment.get());
  ASSERT_NE(kept, nullptr);
  std::vector<std::string> fields;
  for (std::uint32_t i = 0; i < kept->data.vorbis_comment.num_comments; ++i) {
    const auto& entry = kept->data.vorbis_comment.comments[i];
    fields.emplace_back(reinterpret_cast<const char*>(entry.entry), entry.length);
  }
  const std::vector<std::string> expected = {"TITLE=Opening", "REPLAYGAIN_ALBUM_GAIN=-2 dB",
                                             "LOGO=kept", "CUESHEETS=kept", "REPLAYGAIN_TRACK=kept"};
  EXPECT_EQ(fields, expected);
  EXPECT_EQ(flac_track_comment(nullptr), nullptr);

  // The break list's tags take the place of the source's fields of the same names.
  TrackTags tags;
  tags.title = "Encore";
  tags.track_number = 3;
  tags.track_total = 9;
  const FlacMetadataPtr tagged = flac_track_comment(comment.get(), &tags);
  ASSERT_NE(tagged, nullptr);
  fields.clear();
  for (std::uint32_t i = 0; i < tagged->data.vorbis_comment.num_comments; ++i) {
    const auto& entry = tagged->data.vorbis_comment.comments[i];
    fields.emplace_back(reinterpret_cast<const char*>(entry.entry), entry.length);
  }
  const std::vector<std::string> with_tags = {"REPLAYGAIN_ALBUM_GAIN=-2 dB", "LOGO=kept",
                                              "CUESHEETS=kept", "REPLAYGAIN_TRACK=kept",
                                              "TITLE=Encore", "TRACKNUMBER=3", "TRACKTOTAL=9"};
  EXPECT_EQ(fields, with_tags);
}

}  // namespace
