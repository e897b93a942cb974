#include "formats/mpeg/mpeg.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <vector>

#include "formats/mpeg/mpeg_test_support.h"
#include "formats/registry.h"
#include "support/harness.h"

namespace {

using mpeg_test::LogCapture;
using mpeg_test::open_audio;
using tfold_test::fixture;

struct OpenCase {
  const char* name;
  std::uint32_t channels;
  std::uint32_t rate;
  std::uint32_t avg_bytes;
  std::uint64_t buffer_size;
  const char* details;
};

TEST(MpegModule, OpensEveryKindOfStream) {
  const std::vector<OpenCase> cases = {
      {"mpeg_cbr128.mp3", 2, 44100, 176400, 2352, "MPEG-1 Layer III, Joint Stereo, 128 kbps"},
      {"mpeg_mono22.mp3", 1, 22050, 44100, 588, "MPEG-2 Layer III, Mono, 48 kbps"},
      {"mpeg_8k.mp3", 1, 8000, 16000, 213, "MPEG-2.5 Layer III, Mono, 16 kbps"},
      {"mpeg_layer2.mp2", 2, 48000, 192000, 2560, "MPEG-1 Layer II, Stereo, 192 kbps"},
  };
  LogCapture log;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto file = open_audio(fixture(c.name));
    ASSERT_TRUE(file);
    EXPECT_STREQ(file->module->name, "MPEG Audio Layer I/II/III");
    EXPECT_EQ(file->si.channels, c.channels);
    EXPECT_EQ(file->si.samplesPerSec, c.rate);
    EXPECT_EQ(file->si.bitsPerSample, 16u);
    EXPECT_EQ(file->si.blockAlign, c.channels * 2);
    EXPECT_EQ(file->si.avgBytesPerSec, c.avg_bytes);
    EXPECT_EQ(file->si.bufferSize, c.buffer_size);
    EXPECT_EQ(file->details.value_or(""), c.details);
  }
  EXPECT_TRUE(log.all().empty());
}

TEST(MpegModule, LengthIsTheGaplessSampleCount) {
  // lame's Info frame announces delay and padding, so the 3 s tone decodes to exactly 3 s.
  auto gapless = open_audio(fixture("mpeg_cbr128.mp3"));
  ASSERT_TRUE(gapless);
  EXPECT_EQ(gapless->si.numBytes, 132300u * 4);
  // Without it every frame counts: 116 frames of 1152 samples.
  auto plain = open_audio(fixture("mpeg_cbr128_plain.mp3"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->si.numBytes, 116u * 1152 * 4);
}

tfold_test::Bytes joined(const tfold_test::Bytes& a, const tfold_test::Bytes& b) {
  tfold_test::Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

struct LengthCase {
  const char* name;
  tfold_test::Bytes bytes;
  std::uint64_t samples;  // what libmpg123 decodes from it
};

// Whole and damaged streams; every count was taken from the decoder.
std::vector<LengthCase> length_cases() {
  using tfold_test::read_file;
  using tfold_test::slice;
  const auto cbr = read_file(fixture("mpeg_cbr128.mp3"));  // Info frame: delay 576, padding 756
  const auto plain = read_file(fixture("mpeg_cbr128_plain.mp3"));
  const auto vbr = read_file(fixture("mpeg_vbr.mp3"));
  tfold_test::Bytes id3v2 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 100};
  id3v2.resize(110, 0);
  tfold_test::Bytes id3v1 = {'T', 'A', 'G'};
  id3v1.resize(128, 0);
  tfold_test::Bytes junk(1000);
  for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<std::uint8_t>(i * 7 % 128);
  return {
      {"116 frames, 1105 samples of delay and 756 of padding dropped", cbr, 132300},
      {"116 frames without an Info frame", plain, 116 * 1152},
      {"VBR", vbr, 132300},
      {"MPEG-2 layer III", read_file(fixture("mpeg_mono22.mp3")), 117 * 576},
      {"MPEG-2.5 layer III", read_file(fixture("mpeg_8k.mp3")), 44 * 576},
      {"layer II", read_file(fixture("mpeg_layer2.mp2")), 125 * 1152},
      // The delay is still dropped; the padding lay in the lost frame.
      {"last frame cut short", slice(cbr, 0, cbr.size() - 200), 115 * 1152 - 1105},
      {"VBR cut short", slice(vbr, 0, vbr.size() - 3000), 122159},
      {"last frame cut short, no Info frame", slice(plain, 0, plain.size() - 200), 115 * 1152},
      {"junk in front", joined(junk, cbr), 132300},
      {"tags at both ends", joined(joined(id3v2, cbr), id3v1), 132300},
      // More frames than the Info frame announces: the padding comes off the real end.
      {"two streams in a row", joined(cbr, cbr), 233 * 1152 - 576 - 756},
  };
}

TEST(MpegLength, StatedLengthIsExactlyWhatTheDecoderDelivers) {
  tfold_test::TempDir dir;
  for (const auto& c : length_cases()) {
    SCOPED_TRACE(c.name);
    tfold_test::write_file(dir / "stream.mp3", c.bytes);
    auto file = open_audio(dir / "stream.mp3");
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->exact_length);
    EXPECT_EQ(file->si.numBytes, c.samples * file->si.blockAlign);
    EXPECT_EQ(mpeg_test::decode_all(*file).size(), c.samples * file->si.blockAlign);
  }
}

TEST(MpegLength, FreeFormatStreamIsCountedByTheDecoder) {
  auto file = open_audio(fixture("mpeg_free.mp3"));
  ASSERT_TRUE(file);
  EXPECT_FALSE(file->exact_length);
  EXPECT_EQ(file->si.numBytes, 116u * 1152 * 4);
}

TEST(MpegLength, GaplessTrimFromTheFrameCounts) {
  struct Case {
    const char* what;
    std::size_t frames;
    std::optional<std::uint64_t> announced;
    std::optional<MpegGapless> gapless;
    std::optional<std::uint64_t> samples;
  };
  const MpegGapless lame{576, 529, 756};
  // Padding shorter than the decoder's delay: the stream ends with its last frame.
  const MpegGapless short_padding{576, 529, 100};
  const MpegGapless long_padding{576, 529, 4000};
  const std::vector<Case> cases = {
      {"no gapless trim", 116, std::nullopt, std::nullopt, 116 * 1152},
      {"as announced", 116, 116, lame, 132300},
      {"short padding", 116, 116, short_padding, 132527},
      {"short padding, one frame more", 117, 116, short_padding, 133679},
      {"long padding, three frames lost", 113, 116, long_padding, 129056},
      {"long padding, one frame lost", 115, 116, long_padding, 129056},
      {"no frame count announced", 116, std::nullopt, lame, std::nullopt},
      {"no padding known", 116, 116, MpegGapless{576, 529, std::nullopt}, std::nullopt},
      {"no frames", 0, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MpegFrameIndex index;
    for (std::size_t k = 0; k < c.frames; ++k) index.frames.push_back({k * 417, 417});
    index.samples_per_frame = 1152;
    if (c.announced) index.info_frame = MpegFrame{};
    index.info_frame_count = c.announced;
    EXPECT_EQ(mpeg_decoded_samples(index, c.gapless), c.samples);
  }
}

TEST(MpegModule, ExtensionDecidesBeforeTheFileIsTouched) {
  format_init();
  const FormatModule& module = *mpeg_module();
  tfold_test::TempDir dir;
  const auto source = fixture("mpeg_cbr128_plain.mp3");
  for (const char* name : {"LIVE.MP3", "show.Mp2"}) {
    SCOPED_TRACE(name);
    std::filesystem::copy_file(source, dir / name);
    ErrorText error;
    auto file = format_take_file(module.open_file(module, dir / name), &error);
    EXPECT_TRUE(file);
    if (file) module.close_file(module, std::move(file));
  }
  for (const char* name : {"show.mpga", "show.mp3.bak", "missing.wav"}) {
    SCOPED_TRACE(name);
    ErrorText error;
    EXPECT_FALSE(format_take_file(module.open_file(module, dir / name), &error));
    EXPECT_EQ(error.value_or(""), "File extension is not .mp3/.mp2");
  }
}

TEST(MpegModule, RefusesWhatIsNotMpegAudio) {
  tfold_test::TempDir dir;
  tfold_test::write_text(dir / "text.mp3", std::string(4000, 'x'));
  format_init();
  ErrorText error;
  EXPECT_FALSE(format_open_file(dir / "text.mp3", &error));
  EXPECT_EQ(error.value_or(""), "File format unknown/not supported");
}

TEST(MpegRead, AdjacentReadsContinueTheStream) {
  auto file = open_audio(fixture("mpeg_cbr128_plain.mp3"));
  ASSERT_TRUE(file);
  const tfold_test::Bytes whole = mpeg_test::decode_all(*file);
  ASSERT_EQ(whole.size(), file->si.numBytes);

  auto again = open_audio(fixture("mpeg_cbr128_plain.mp3"));
  auto& mpeg = static_cast<MpegAudioFile&>(*again);
  std::vector<std::uint8_t> block(2352);
  for (std::uint64_t k = 0; k < 20; ++k) {
    ASSERT_EQ(format_read_data(*again, block, k * 2352), 2352);
    EXPECT_EQ(mpeg.decoded_pos, (k + 1) * 2352);
    ASSERT_EQ(tfold_test::Bytes(block.begin(), block.end()), tfold_test::slice(whole, k * 2352, 2352));
  }
}

TEST(MpegRead, SeeksToTheSampleFrameHoldingTheOffset) {
  auto file = open_audio(fixture("mpeg_cbr128_plain.mp3"));
  ASSERT_TRUE(file);
  const tfold_test::Bytes whole = mpeg_test::decode_all(*file);
  auto& mpeg = static_cast<MpegAudioFile&>(*file);

  std::vector<std::uint8_t> piece(4096);
  // Backwards, and inside a sample frame of 4 bytes: data from the frame's start.
  ASSERT_EQ(format_read_data(*file, piece, 100002), 4096);
  EXPECT_EQ(tfold_test::Bytes(piece.begin(), piece.end()), tfold_test::slice(whole, 100000, 4096));
  EXPECT_EQ(mpeg.decoded_pos, 100002u + 4096);
  ASSERT_EQ(format_read_data(*file, piece, 40000), 4096);
  EXPECT_EQ(tfold_test::Bytes(piece.begin(), piece.end()), tfold_test::slice(whole, 40000, 4096));
}

TEST(MpegRead, EndOfStreamIsNoError) {
  for (const char* name : {"mpeg_cbr128.mp3", "mpeg_vbr.mp3", "mpeg_layer2.mp2"}) {
    SCOPED_TRACE(name);
    auto file = open_audio(fixture(name));
    ASSERT_TRUE(file);
    LogCapture log;
    const tfold_test::Bytes whole = mpeg_test::decode_all(*file);
    EXPECT_EQ(whole.size(), file->si.numBytes);

    const std::uint64_t size = file->si.numBytes;
    std::vector<std::uint8_t> piece(4096);
    ASSERT_EQ(format_read_data(*file, piece, size - 100), 100);
    EXPECT_EQ(tfold_test::Bytes(piece.begin(), piece.begin() + 100), tfold_test::slice(whole, size - 100, 100));
    EXPECT_EQ(format_read_data(*file, piece, size), 0);
    EXPECT_EQ(format_read_data(*file, piece, size + 4), -1);
    EXPECT_TRUE(log.all().empty()) << log.all().front();
  }
}

TEST(MpegInfo, PrintsTheFormatOfAnMp3) {
  tfold_test::Tfold t;
  const std::string path = fixture("mpeg_cbr128.mp3").string();
  const auto r = t.run({"info", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "File name:      " + path + "\n"
            "File format:    MPEG Audio Layer I/II/III\n"
            "Format details: MPEG-1 Layer III, Joint Stereo, 128 kbps\n"
            "Duration:       00:00:03.000 (132300 samples)\n"
            "Format:         44100 Hz / 2 ch / 16 bit\n\n");
  EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
}

}  // namespace
