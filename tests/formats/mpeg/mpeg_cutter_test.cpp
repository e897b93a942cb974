#include "formats/mpeg/mpeg_cutter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "formats/mpeg/mpeg.h"
#include "formats/mpeg/mpeg_frame.h"
#include "formats/mpeg/mpeg_test_support.h"
#include "formats/registry.h"
#include "support/file_size_limit.h"
#include "support/harness.h"

namespace {

namespace fs = std::filesystem;
using mpeg_test::LogCapture;
using mpeg_test::open_audio;
using mpeg_test::frame_offsets;
using mpeg_test::non_frame_data;
using tfold_test::Bytes;
using tfold_test::fixture;
using tfold_test::read_file;
using tfold_test::slice;

constexpr std::uint64_t BLOCK_44K = 2352;  // bytes of 1/75 s at 44.1 kHz stereo

// File offsets of the frames that follow each other from offset on.

struct Progress {
  std::vector<double> calls;
  static void record(void* self, double fraction) {
    static_cast<Progress*>(self)->calls.push_back(fraction);
  }
};

int cut(AudioFile& file, const std::string& out, std::uint64_t start, std::uint64_t end,
        Progress* progress = nullptr) {
  return format_write_track(file, {.path = out, .start = start, .end = end,
                                  .progress = progress ? Progress::record : nullptr, .user_data = progress});
}

TEST(MpegCutter, CutsAtTheFramesHoldingTheRange) {
  const auto source_path = fixture("mpeg_cbr128_plain.mp3");
  const Bytes source = read_file(source_path);
  auto file = open_audio(source_path);
  ASSERT_TRUE(file);
  tfold_test::TempDir dir;

  // Blocks 0 to 10 are samples 0 to 5880: the frames with counters 0, 1152, ..., 5760.
  Progress progress;
  ASSERT_EQ(cut(*file, dir / "a.mp3", 0, 10 * BLOCK_44K, &progress), 0);
  const Bytes first = read_file(dir / "a.mp3");
  const auto first_frames = frame_offsets(first);
  ASSERT_EQ(first_frames.size(), 6u);
  EXPECT_EQ(first, slice(source, 0, first.size()));
  ASSERT_GE(progress.calls.size(), 2u);
  EXPECT_EQ(progress.calls.front(), 0.0);
  EXPECT_EQ(progress.calls.back(), 1.0);

  // The next cut begins with the frame whose counter is 6912, the seventh.
  ASSERT_EQ(cut(*file, dir / "b.mp3", 10 * BLOCK_44K, 0), 0);
  const auto source_frames = frame_offsets(source);
  EXPECT_EQ(read_file(dir / "b.mp3"), slice(source, source_frames[6], source.size() - source_frames[6]));
}

TEST(MpegCutter, CopiesPaddedFramesWhole) {
  const Bytes source = read_file(fixture("mpeg_cbr128_plain.mp3"));
  auto file = open_audio(fixture("mpeg_cbr128_plain.mp3"));
  ASSERT_TRUE(file);
  tfold_test::TempDir dir;
  ASSERT_EQ(cut(*file, dir / "a.mp3", 0, 40 * BLOCK_44K), 0);
  const Bytes out = read_file(dir / "a.mp3");
  std::size_t padded = 0, plain = 0;
  for (std::size_t at : frame_offsets(out)) {
    const bool padding = (out[at + 2] & 0x02) != 0;
    const std::size_t next = at + (padding ? 418 : 417);
    ASSERT_LE(next, out.size());
    (padding ? padded : plain)++;
  }
  EXPECT_GT(padded, 0u);
  EXPECT_GT(plain, 0u);
  EXPECT_EQ(out.size(), padded * 418 + plain * 417);
}

struct StreamCase {
  const char* name;
  bool info_frame;  // the first frame holds stream information, not audio
  std::uint64_t samples_per_frame;
};

// Every kind of stream the fixtures hold.
const std::vector<StreamCase> STREAMS = {
    {"mpeg_cbr128_plain.mp3", false, 1152}, {"mpeg_cbr128.mp3", true, 1152},
    {"mpeg_vbr.mp3", true, 1152},           {"mpeg_mono22.mp3", false, 576},
    {"mpeg_8k.mp3", false, 576},            {"mpeg_layer2.mp2", false, 1152},
};

// Breaks at these blocks; the last track runs to the end.
const std::vector<std::uint64_t> BREAKS = {0, 37, 100, 161};

TEST(MpegCutter, ConsecutiveCutsRebuildTheAudioFrames) {
  for (const auto& c : STREAMS) {
    SCOPED_TRACE(c.name);
    const Bytes source = read_file(fixture(c.name));
    auto file = open_audio(fixture(c.name));
    ASSERT_TRUE(file);
    tfold_test::TempDir dir;
    LogCapture log;
    Bytes joined;
    for (std::size_t k = 0; k < BREAKS.size(); ++k) {
      const std::uint64_t end = k + 1 < BREAKS.size() ? format_block_offset(BREAKS[k + 1], file->si) : 0;
      const std::string out = dir / ("t" + std::to_string(k) + ".mp3");
      ASSERT_EQ(cut(*file, out, format_block_offset(BREAKS[k], file->si), end), 0);
      const Bytes track = read_file(out);
      joined.insert(joined.end(), track.begin(), track.end());
    }
    const std::size_t audio_start = c.info_frame ? frame_offsets(source)[1] : 0;
    EXPECT_EQ(joined, slice(source, audio_start, source.size() - audio_start));
    EXPECT_TRUE(log.all().empty());
  }
}

// Decoded samples of a written track, through the module itself.
std::uint64_t decoded_samples(const std::string& path) {
  auto track = open_audio(path);
  if (!track) return 0;
  const Bytes pcm = mpeg_test::decode_all(*track);
  EXPECT_EQ(pcm.size(), track->si.numBytes);
  return track->si.numBytes / track->si.blockAlign;
}

TEST(MpegCutter, TracksDecodeToTheirListedLengthWithinOneFrame) {
  for (const auto& c : STREAMS) {
    SCOPED_TRACE(c.name);
    auto file = open_audio(fixture(c.name));
    ASSERT_TRUE(file);
    const auto& mpeg = static_cast<const MpegAudioFile&>(*file);
    const std::uint64_t total = file->si.numBytes / file->si.blockAlign;
    const std::uint64_t rate = file->si.samplesPerSec;
    const std::string ext = fs::path(c.name).extension().string();
    tfold_test::TempDir dir;

    // The priming and padding samples that the source's Info frame lets a decoder drop
    // come back at the head of the first and the tail of the last track.
    ASSERT_EQ(cut(*file, dir / ("all" + ext), 0, 0), 0);
    const std::uint64_t raw_total = decoded_samples(dir / ("all" + ext));
    EXPECT_EQ(c.info_frame, mpeg.gapless_delay > 0);
    const std::uint64_t priming = mpeg.gapless_delay;
    const std::uint64_t padding = raw_total - total - priming;

    for (std::size_t k = 0; k < BREAKS.size(); ++k) {
      SCOPED_TRACE(k);
      const bool last = k + 1 == BREAKS.size();
      const std::uint64_t from = BREAKS[k] * rate / 75;
      const std::uint64_t to = last ? total : BREAKS[k + 1] * rate / 75;
      const std::string out = dir / ("t" + std::to_string(k) + ext);
      ASSERT_EQ(cut(*file, out, format_block_offset(BREAKS[k], file->si),
                    last ? 0 : format_block_offset(BREAKS[k + 1], file->si)), 0);
      const auto listed = static_cast<std::int64_t>(to - from + (k == 0 ? priming : 0) + (last ? padding : 0));
      const auto decoded = static_cast<std::int64_t>(decoded_samples(out));
      EXPECT_LT(std::llabs(decoded - listed), static_cast<std::int64_t>(c.samples_per_frame))
          << "decoded " << decoded << ", listed " << listed;
    }
  }
}

TEST(MpegCutter, TruncatedLastFrameIsLeftOut) {
  const Bytes whole = read_file(fixture("mpeg_cbr128_plain.mp3"));
  const auto frames = frame_offsets(whole);
  tfold_test::TempDir dir;
  const Bytes source = slice(whole, 0, whole.size() - 200);
  tfold_test::write_file(dir / "cut.mp3", source);
  auto file = open_audio(dir / "cut.mp3");
  ASSERT_TRUE(file);
  LogCapture log;
  ASSERT_EQ(cut(*file, dir / "out.mp3", 100 * BLOCK_44K, 0), 0);
  EXPECT_EQ(log.matching("Tried to read over the end of the input file").size(), 1u);
  const Bytes out = read_file(dir / "out.mp3");
  const std::size_t from = frames[static_cast<std::size_t>((100 * 588 + 1151) / 1152)];
  EXPECT_EQ(out, slice(source, from, frames.back() - from));
}

TEST(MpegCutter, MissingOutputFolderFails) {
  auto file = open_audio(fixture("mpeg_cbr128.mp3"));
  ASSERT_TRUE(file);
  tfold_test::TempDir dir;
  const std::string out = dir / "no/such/folder/t.mp3";
  LogCapture log;
  Progress progress;
  EXPECT_EQ(cut(*file, out, 0, 0, &progress), -1);
  EXPECT_EQ(log.matching("Error opening " + out + " for writing: No such file or directory").size(), 1u);
  EXPECT_TRUE(progress.calls.empty());
}

TEST(MpegCutter, RefusesFreeFormatStreams) {
  auto file = open_audio(fixture("mpeg_free.mp3"));
  ASSERT_TRUE(file);
  tfold_test::TempDir dir;
  LogCapture log;
  Progress progress;
  EXPECT_EQ(cut(*file, dir / "t.mp3", 0, 0, &progress), -1);
  EXPECT_EQ(log.matching("free-format").size(), 1u);
  EXPECT_FALSE(fs::exists(dir / "t.mp3"));
  EXPECT_TRUE(progress.calls.empty());
}

TEST(MpegCutter, FailedWriteRemovesTheOutput) {
  auto file = open_audio(fixture("mpeg_cbr128.mp3"));
  ASSERT_TRUE(file);
  tfold_test::TempDir dir;
  LogCapture log;
  int result = 0;
  {
    const tfold_test::FileSizeLimit limit(10000);
    result = cut(*file, dir / "t.mp3", 0, 0);
  }
  EXPECT_EQ(result, -1);
  EXPECT_EQ(log.matching("Error writing to file " + (dir / "t.mp3") + ": File too large").size(), 1u);
  EXPECT_FALSE(fs::exists(dir / "t.mp3"));
}


TEST(MpegCutter, SkipsNonFrameDataInFrontOnEveryCut) {
  const Bytes audio = read_file(fixture("mpeg_cbr128_plain.mp3"));
  Bytes source = non_frame_data(1000);
  source.insert(source.end(), audio.begin(), audio.end());
  tfold_test::TempDir dir;
  tfold_test::write_file(dir / "junk.mp3", source);
  auto file = open_audio(dir / "junk.mp3");
  ASSERT_TRUE(file);
  const auto frames = frame_offsets(audio);

  LogCapture log;
  ASSERT_EQ(cut(*file, dir / "a.mp3", 0, 10 * BLOCK_44K), 0);
  ASSERT_EQ(cut(*file, dir / "b.mp3", 10 * BLOCK_44K, 0), 0);
  // Told once for the file, though both tracks are cut past it.
  EXPECT_EQ(log.matching("junk.mp3: 1000 bytes of non-frame data at 0x00000000 to 0x000003e7 are skipped; no track "
                         "holds them").size(),
            1u);
  EXPECT_EQ(log.all().size(), 1u);
  EXPECT_EQ(read_file(dir / "a.mp3"), slice(audio, 0, frames[6]));
  EXPECT_EQ(read_file(dir / "b.mp3"), slice(audio, frames[6], audio.size() - frames[6]));
}

TEST(MpegCutter, StrayHeaderPatternInJunkIsNoFrame) {
  const Bytes audio = read_file(fixture("mpeg_cbr128_plain.mp3"));
  const auto frames = frame_offsets(audio);
  Bytes junk = non_frame_data(300);
  const std::uint8_t header[] = {0xFF, 0xFB, 0x90, 0x64};
  std::memcpy(junk.data() + 100, header, 4);
  Bytes source = slice(audio, 0, frames[10]);
  source.insert(source.end(), junk.begin(), junk.end());
  source.insert(source.end(), audio.begin() + static_cast<std::ptrdiff_t>(frames[10]), audio.end());
  tfold_test::TempDir dir;
  tfold_test::write_file(dir / "junk.mp3", source);
  auto file = open_audio(dir / "junk.mp3");
  ASSERT_TRUE(file);

  LogCapture log;
  ASSERT_EQ(cut(*file, dir / "all.mp3", 0, 0), 0);
  EXPECT_EQ(read_file(dir / "all.mp3"), audio);
  char expected[80];
  std::snprintf(expected, sizeof expected, "300 bytes of non-frame data at 0x%08zx to 0x%08zx are skipped",
                frames[10], frames[10] + 299);
  EXPECT_EQ(log.matching(expected).size(), 1u);
}

// An ID3v2.3 tag with one APIC frame whose "picture" is a chain of perfect MPEG-1 layer III
// frame headers, the worst a scan for sync patterns could meet.
Bytes id3v2_with_picture() {
  Bytes picture = {0x00, 'i', 'm', 'a', 'g', 'e', '/', 'j', 'p', 'e', 'g', 0x00, 0x03, 0x00};
  for (int i = 0; i < 20; ++i) {
    const std::uint8_t header[] = {0xFF, 0xFB, 0x90, 0x64};
    picture.insert(picture.end(), header, header + 4);
    picture.resize(picture.size() + 413, 0x00);
  }
  Bytes frame = {'A', 'P', 'I', 'C'};
  const auto size = static_cast<std::uint32_t>(picture.size());
  for (int shift : {24, 16, 8, 0}) frame.push_back(static_cast<std::uint8_t>(size >> shift));
  frame.push_back(0);
  frame.push_back(0);
  frame.insert(frame.end(), picture.begin(), picture.end());
  const auto body = static_cast<std::uint32_t>(frame.size());
  Bytes tag = {'I', 'D', '3', 3, 0, 0};
  for (int shift : {21, 14, 7, 0}) tag.push_back(static_cast<std::uint8_t>((body >> shift) & 0x7F));
  tag.insert(tag.end(), frame.begin(), frame.end());
  return tag;
}

Bytes trailing_tags() {
  Bytes ape(32, 0);
  std::memcpy(ape.data(), "APETAGEX", 8);
  ape[8] = 0xD0;
  ape[9] = 0x07;
  ape[12] = 32;  // a tag of its footer alone
  Bytes id3v1(128, 0);
  std::memcpy(id3v1.data(), "TAG", 3);
  ape.insert(ape.end(), id3v1.begin(), id3v1.end());
  return ape;
}

TEST(MpegCutter, TagsAreNeitherAudioNorJunk) {
  const Bytes audio = read_file(fixture("mpeg_cbr128_plain.mp3"));
  const auto frames = frame_offsets(audio);
  Bytes source = id3v2_with_picture();
  source.insert(source.end(), audio.begin(), audio.end());
  const Bytes trailer = trailing_tags();
  source.insert(source.end(), trailer.begin(), trailer.end());
  tfold_test::TempDir dir;
  tfold_test::write_file(dir / "tagged.mp3", source);
  auto file = open_audio(dir / "tagged.mp3");
  ASSERT_TRUE(file);

  LogCapture log;
  ASSERT_EQ(cut(*file, dir / "a.mp3", 0, 10 * BLOCK_44K), 0);
  ASSERT_EQ(cut(*file, dir / "b.mp3", 10 * BLOCK_44K, 0), 0);
  EXPECT_EQ(read_file(dir / "a.mp3"), slice(audio, 0, frames[6]));
  EXPECT_EQ(read_file(dir / "b.mp3"), slice(audio, frames[6], audio.size() - frames[6]));
  EXPECT_TRUE(log.all().empty()) << log.all().front();
}

TEST(MpegCutter, OffsetsBeyond4GiB) {
  // Seventeen stacked ID3v2 tags of the largest size put the audio past 4 GiB; the file is
  // sparse, so it takes no disk space.
  constexpr std::uint64_t tag_bytes = 10 + 0x0FFFFFFF;
  constexpr std::uint64_t tags = 17;
  const Bytes audio = read_file(fixture("mpeg_cbr128_plain.mp3"));
  const auto frames = frame_offsets(audio);
  tfold_test::TempDir dir;
  const std::string path = dir / "huge.mp3";
  {
    FilePtr out(std::fopen(path.c_str(), "wb"));
    ASSERT_TRUE(out);
    const std::uint8_t header[] = {'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    for (std::uint64_t k = 0; k < tags; ++k) {
      ASSERT_EQ(fseeko(out.get(), static_cast<off_t>(k * tag_bytes), SEEK_SET), 0);
      ASSERT_EQ(std::fwrite(header, 1, sizeof header, out.get()), sizeof header);
    }
    ASSERT_EQ(fseeko(out.get(), static_cast<off_t>(tags * tag_bytes), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(audio.data(), 1, audio.size(), out.get()), audio.size());
  }
  ASSERT_GT(fs::file_size(path), 4ull << 30);

  // The decoder is not needed to cut: the record is filled as opening would fill it.
  MpegAudioFile file;
  format_init();
  ErrorText error;
  ASSERT_TRUE(format_open_common(*mpeg_module(), file, path, &error));
  file.si = {2, 44100, 176400, 4, 16, 116 * 1152 * 4, 2352};
  LogCapture log;
  ASSERT_EQ(cut(file, dir / "t.mp3", 10 * BLOCK_44K, 0), 0);
  EXPECT_EQ(read_file(dir / "t.mp3"), slice(audio, frames[6], audio.size() - frames[6]));
  EXPECT_TRUE(log.all().empty());
}

}  // namespace

namespace {

// Where, on the source's decoded timeline, the audio of a track begins: the track's decoded
// samples from its sixth frame on (libmpg123 silences the first frames of a cut whose bit
// reservoir lies before it) are looked up in the source's decoded samples near from.
std::optional<std::int64_t> track_start_in_source(const Bytes& source_pcm, const Bytes& track_pcm,
                                                  std::int64_t from, std::size_t frame_bytes) {
  const std::size_t probe_at = 5 * frame_bytes;
  const std::size_t probe_size = 4000;
  if (track_pcm.size() < probe_at + probe_size) return std::nullopt;
  const auto* probe = track_pcm.data() + probe_at;
  for (std::int64_t shift = -3 * static_cast<std::int64_t>(frame_bytes);
       shift <= 3 * static_cast<std::int64_t>(frame_bytes); shift += 4) {
    const std::int64_t at = from + shift + static_cast<std::int64_t>(probe_at);
    if (at < 0 || static_cast<std::size_t>(at) + probe_size > source_pcm.size()) continue;
    if (std::memcmp(source_pcm.data() + at, probe, probe_size) == 0) return from + shift;
  }
  return std::nullopt;
}

TEST(MpegCutter, TrackBeginsWithinOneFrameAfterItsBreakOnTheDecodedTimeline) {
  for (const char* name : {"mpeg_cbr128_plain.mp3", "mpeg_cbr128.mp3", "mpeg_vbr.mp3"}) {
    SCOPED_TRACE(name);
    auto file = open_audio(fixture(name));
    ASSERT_TRUE(file);
    const Bytes source_pcm = mpeg_test::decode_all(*file);
    tfold_test::TempDir dir;
    for (std::uint64_t block : {37u, 100u, 161u}) {
      SCOPED_TRACE(block);
      ASSERT_EQ(cut(*file, dir / "t.mp3", block * BLOCK_44K, 0), 0);
      auto track = open_audio(dir / "t.mp3");
      ASSERT_TRUE(track);
      const Bytes track_pcm = mpeg_test::decode_all(*track);
      const auto from = static_cast<std::int64_t>(block * BLOCK_44K);
      const auto start = track_start_in_source(source_pcm, track_pcm, from, 1152 * 4);
      ASSERT_TRUE(start);
      EXPECT_GE(*start, from);
      EXPECT_LT(*start - from, 1152 * 4);
    }
  }
}

}  // namespace
