#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "document/analysis.h"
#include "document/document_fixtures.h"

namespace {

using namespace tfold_test;

struct SampleCase {
  const char* name;
  Bytes block;
  std::uint32_t bits;
  std::uint32_t channels;
  std::int32_t min;
  std::int32_t max;
};

TEST(AnalysisSampleRule, DecodesTheFirstChannelOfEachFrame) {
  const std::vector<SampleCase> cases = {
      {"8-bit silence is 128", {128, 128, 128, 128}, 8, 1, 0, 0},
      {"8-bit extremes", {0, 255, 128}, 8, 1, -128, 127},
      {"16-bit bytes 0x80 0x10", {0x80, 0x10}, 16, 1, 0, 4224},
      {"16-bit negative", {0x00, 0x80, 0xFF, 0x7F}, 16, 1, -32768, 32767},
      {"16-bit silent left, loud right", {0, 0, 0x20, 0x4E, 0, 0, 0xE0, 0xB1}, 16, 2, 0, 0},
      {"16-bit loud left, silent right", {0xE0, 0xB1, 0, 0, 0x20, 0x4E, 0, 0}, 16, 2, -20000, 20000},
      {"24-bit -1 sign-extends", {0xFF, 0xFF, 0xFF}, 24, 1, -1, 0},
      {"24-bit full scale", {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F}, 24, 1, -8388608, 8388607},
      {"24-bit stereo skips the right channel", {0x01, 0, 0, 0, 0, 0x80}, 24, 2, 0, 1},
      {"a sample cut off by the block end is not read", {0, 0, 0, 0x7F}, 24, 1, 0, 0},
      {"32-bit is not decoded", {0xFF, 0xFF, 0xFF, 0x7F}, 32, 1, 0, 0},
  };
  for (const SampleCase& c : cases) {
    SCOPED_TRACE(c.name);
    const GraphPoint point = analysis_block_extremes(c.block, c.bits, c.channels);
    EXPECT_EQ(point.min, c.min);
    EXPECT_EQ(point.max, c.max);
  }
}

// Interleaved frames whose first channel is `first` and every other channel `others`.
Bytes frames16(const std::vector<std::int16_t>& first, std::size_t channels, std::int16_t others) {
  Bytes out;
  for (std::int16_t sample : first) {
    append_le16(out, static_cast<std::uint16_t>(sample));
    for (std::size_t ch = 1; ch < channels; ++ch) append_le16(out, static_cast<std::uint16_t>(others));
  }
  return out;
}

Bytes frames8(const std::vector<std::uint8_t>& first, std::size_t channels, std::uint8_t others) {
  Bytes out;
  for (std::uint8_t sample : first) {
    out.push_back(sample);
    for (std::size_t ch = 1; ch < channels; ++ch) out.push_back(others);
  }
  return out;
}

// Blocks of many frames, with the extremes placed early, late and in a trailing part that
// does not fill a whole 16-byte group.
TEST(AnalysisSampleRule, LongBlocksOfEveryChannelCount) {
  std::vector<std::int16_t> left16(37, 0);
  left16[5] = -300;
  left16[36] = 700;
  std::vector<std::int16_t> quad16(10, 0);
  quad16[2] = 1234;
  std::vector<std::uint8_t> left8(41, 128);
  left8[3] = 10;
  left8[40] = 250;
  const std::vector<SampleCase> cases = {
      {"16-bit stereo", frames16(left16, 2, -32000), 16, 2, -300, 700},
      {"16-bit mono", frames16(left16, 1, 0), 16, 1, -300, 700},
      {"16-bit four channels", frames16(quad16, 4, -32768), 16, 4, 0, 1234},
      {"16-bit three channels", frames16(left16, 3, 32767), 16, 3, -300, 700},
      {"8-bit stereo", frames8(left8, 2, 0), 8, 2, -118, 122},
      {"8-bit mono", frames8(left8, 1, 0), 8, 1, -118, 122},
      {"8-bit quiet stereo with loud right", frames8(std::vector<std::uint8_t>(40, 128), 2, 255), 8, 2, 0, 0},
  };
  for (const SampleCase& c : cases) {
    SCOPED_TRACE(c.name);
    const GraphPoint point = analysis_block_extremes(c.block, c.bits, c.channels);
    EXPECT_EQ(point.min, c.min);
    EXPECT_EQ(point.max, c.max);
  }
}

class AnalysisOfWav : public ::testing::Test {
 protected:
  AudioDocumentPtr analyse(const Bytes& wav) {
    write_file(dir_ / "show.wav", wav);
    AudioDocumentPtr document = open_document(dir_ / "show.wav");
    if (document) wait_analyzed(*document);
    return document;
  }
  TempDir dir_;
};

TEST_F(AnalysisOfWav, TenWholeBlocksGiveElevenEntries) {
  Bytes data = stereo16(10 * CD_BLOCK / 4, 0, 0);
  data[9 * CD_BLOCK] = 0x80;  // left sample 4224 in the last whole block
  data[9 * CD_BLOCK + 1] = 0x10;
  AudioDocumentPtr document = analyse(canonical_wav(2, 44100, 16, data));
  ASSERT_TRUE(document);
  EXPECT_EQ(audio_document_get_block_count(*document), 11u);
  EXPECT_DOUBLE_EQ(audio_document_get_progress(*document), 1.0);
  EXPECT_FALSE(audio_document_get_error(*document));
  const GraphInfo* graph = audio_document_get_graph(*document);
  ASSERT_NE(graph, nullptr);
  ASSERT_EQ(graph->graph_data.size(), 11u);
  EXPECT_EQ(graph->graph_data[9].max, 4224);
  EXPECT_EQ(graph->graph_data[8].max, 0);
  EXPECT_EQ(graph->max_sample_value, 32767u);
  EXPECT_EQ(graph->min_range, 0u);
  EXPECT_EQ(graph->max_range, 4224u);
  audio_document_close(std::move(document));
}

TEST_F(AnalysisOfWav, EmptyAudioIsAnalysedWithOneEntry) {
  AudioDocumentPtr document = analyse(canonical_wav(2, 44100, 16, {}));
  ASSERT_TRUE(document);
  const GraphInfo* graph = audio_document_get_graph(*document);
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(graph->block_count, 1u);
  EXPECT_EQ(graph->min_range, 32767u);
  EXPECT_EQ(graph->max_range, 0u);
  EXPECT_EQ(graph->max_sample_value, 32767u);
  EXPECT_FALSE(audio_document_get_error(*document));
}

TEST_F(AnalysisOfWav, ConstantEightBitSilenceHasNoRange) {
  // 8000 Hz mono 8-bit: blocks of 106 or 107 frames; block 5 starts at frame 533.
  AudioDocumentPtr document = analyse(canonical_wav(1, 8000, 8, Bytes(533, 128)));
  ASSERT_TRUE(document);
  const GraphInfo* graph = audio_document_get_graph(*document);
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(graph->block_count, 6u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(graph->graph_data[i].min, 0);
    EXPECT_EQ(graph->graph_data[i].max, 0);
  }
  EXPECT_EQ(graph->min_range, 0u);
  EXPECT_EQ(graph->max_range, 0u);
  EXPECT_EQ(graph->max_sample_value, 255u);
}

TEST_F(AnalysisOfWav, BlocksStartAtTheirFirstSampleAtEveryRate) {
  // 32000 Hz mono 16-bit: blocks of 426 or 427 frames, starting at frames 0, 426, 853, 1280
  // and 1706. Each block's first frame holds +1000 * (b + 1), its last frame the negative.
  const std::size_t starts[] = {0, 426, 853, 1280, 1706};
  Bytes data(2 * 1706 + 2 * 100, 0);
  for (std::size_t b = 0; b < 4; ++b) {
    const auto peak = static_cast<std::uint16_t>(1000 * (b + 1));
    data[2 * starts[b]] = static_cast<std::uint8_t>(peak);
    data[2 * starts[b] + 1] = static_cast<std::uint8_t>(peak >> 8);
    const auto trough = static_cast<std::uint16_t>(-static_cast<int>(peak));
    data[2 * (starts[b + 1] - 1)] = static_cast<std::uint8_t>(trough);
    data[2 * (starts[b + 1] - 1) + 1] = static_cast<std::uint8_t>(trough >> 8);
  }
  AudioDocumentPtr document = analyse(canonical_wav(1, 32000, 16, data));
  ASSERT_TRUE(document);
  const GraphInfo* graph = audio_document_get_graph(*document);
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(graph->block_count, 5u);  // four whole blocks and the 100 frames after them
  for (std::size_t b = 0; b < 4; ++b) {
    SCOPED_TRACE(b);
    EXPECT_EQ(graph->graph_data[b].max, 1000 * static_cast<int>(b + 1));
    EXPECT_EQ(graph->graph_data[b].min, -1000 * static_cast<int>(b + 1));
  }
}

TEST_F(AnalysisOfWav, SilentFirstChannelGivesFlatGraph) {
  AudioDocumentPtr document = analyse(canonical_wav(2, 44100, 16, stereo16(3 * CD_BLOCK / 4, 0, -30000)));
  ASSERT_TRUE(document);
  const GraphInfo* graph = audio_document_get_graph(*document);
  ASSERT_NE(graph, nullptr);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(graph->graph_data[i].min, 0);
    EXPECT_EQ(graph->graph_data[i].max, 0);
  }
  EXPECT_EQ(graph->max_range, 0u);
}

TEST_F(AnalysisOfWav, WideTwentyFourBitBlocksKeepMinRangeAtItsStart) {
  // 48000 Hz stereo 24-bit: 288000 bytes/s, a block of 3840 bytes, 640 frames.
  Bytes data;
  for (int frame = 0; frame < 640 * 4; ++frame) {
    const std::uint32_t left = frame % 2 == 0 ? 0x100000u : 0xF00000u;  // +1048576 / -1048576
    for (int ch = 0; ch < 2; ++ch) {
      data.push_back(static_cast<std::uint8_t>(left));
      data.push_back(static_cast<std::uint8_t>(left >> 8));
      data.push_back(static_cast<std::uint8_t>(left >> 16));
    }
  }
  AudioDocumentPtr document = analyse(canonical_wav(2, 48000, 24, data));
  ASSERT_TRUE(document);
  const GraphInfo* graph = audio_document_get_graph(*document);
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(graph->block_count, 5u);
  EXPECT_EQ(graph->graph_data[3].min, -1048576);
  EXPECT_EQ(graph->graph_data[3].max, 1048576);
  EXPECT_EQ(graph->min_range, 32767u);
  EXPECT_EQ(graph->max_range, 2097152u);
  EXPECT_EQ(graph->max_sample_value, 8388607u);
}

// Reads span many blocks at once; every block must still land in its own entry, across
// read boundaries, and the partial block at the end must stay unanalysed.
TEST_F(AnalysisOfWav, ManyBlocksAndATrailingPartialBlock) {
  const std::size_t blocks = 1000;
  Bytes data = stereo16(blocks * CD_BLOCK / 4 + 25, 0, 0);
  for (std::size_t block : {0u, 444u, 445u, 446u, 890u, 999u}) {
    const std::size_t at = block * CD_BLOCK + 4 * (block % 500);  // some frame inside the block
    const auto value = static_cast<std::uint16_t>(block + 1);
    data[at] = static_cast<std::uint8_t>(value);
    data[at + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  const std::size_t tail = blocks * CD_BLOCK;
  data[tail] = 0x00;  // the partial block holds a loud sample that must not be seen
  data[tail + 1] = 0x70;
  AudioDocumentPtr document = analyse(canonical_wav(2, 44100, 16, data));
  ASSERT_TRUE(document);
  const GraphInfo* graph = audio_document_get_graph(*document);
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(graph->block_count, 1001u);
  for (std::size_t block : {0u, 444u, 445u, 446u, 890u, 999u}) {
    SCOPED_TRACE(block);
    EXPECT_EQ(graph->graph_data[block].max, static_cast<std::int32_t>(block + 1));
  }
  EXPECT_EQ(graph->graph_data[443].max, 0);
  EXPECT_EQ(graph->graph_data[1000].max, 0);
  EXPECT_EQ(graph->max_range, 1000u);
}

// A stream that ends before its announced length ends the analysis at the last whole
// block it delivered, without an error.
TEST(AnalysisOfStreams, ShortStreamEndsAtLastWholeBlock) {
  Bytes data = stereo16(10 * CD_BLOCK / 4, 0, 0);
  for (std::size_t block = 0; block < 10; ++block) data[block * CD_BLOCK] = static_cast<std::uint8_t>(block + 1);
  AudioDocumentPtr document =
      audio_document_open_file(memory_file(cd_sample_info(data.size()), data, 3 * CD_BLOCK + 100), nullptr);
  ASSERT_TRUE(document);
  wait_analyzed(*document);
  const GraphInfo* graph = audio_document_get_graph(*document);
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(graph->block_count, 11u);
  EXPECT_EQ(graph->graph_data[2].max, 3);
  EXPECT_EQ(graph->graph_data[3].max, 0);
  EXPECT_FALSE(audio_document_get_error(*document));
}

TEST(AnalysisOfStreams, UnreadableAudioEndsWithAnError) {
  AudioDocumentPtr document = audio_document_open_file(
      memory_file(cd_sample_info(10 * CD_BLOCK), Bytes(10 * CD_BLOCK), 0, true), nullptr);
  ASSERT_TRUE(document);
  wait_analyzed(*document);
  EXPECT_EQ(audio_document_get_error(*document).value_or(""), "The audio data could not be read");
  EXPECT_DOUBLE_EQ(audio_document_get_progress(*document), 1.0);
}

TEST(AnalysisOfStreams, GraphTooLargeForMemoryEndsWithAnError) {
  SampleInfo si = cd_sample_info(std::numeric_limits<std::uint64_t>::max());
  si.channels = 1;
  si.samplesPerSec = 150;
  si.avgBytesPerSec = 150;
  si.blockAlign = 1;
  si.bitsPerSample = 8;
  si.bufferSize = 2;
  AudioDocumentPtr document = audio_document_open_file(memory_file(si, {}, 0), nullptr);
  ASSERT_TRUE(document);
  wait_analyzed(*document);
  const ErrorText error = audio_document_get_error(*document);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->rfind("Not enough memory for the waveform of ", 0), 0u) << *error;
  EXPECT_NE(audio_document_get_graph(*document), nullptr);
}

// Bytes handed out by counted_read, all files together.
std::uint64_t bytes_read = 0;

std::int64_t counted_read(AudioFile& file, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  const std::int64_t got = memory_read(file, buffer, offset);
  if (got > 0) bytes_read += static_cast<std::uint64_t>(got);
  return got;
}

const FormatModule COUNTED_MODULE = {"counted", "test", ".mem", nullptr, memory_close,
                                     counted_read, nullptr};

struct Analysed {
  std::uint64_t blocks = 0;
  std::string error;
  std::size_t graph_points = 0;
  std::uint64_t bytes_read = 0;
};

Analysed analyse_memory(std::uint64_t num_bytes, std::uint64_t readable, bool fail,
                        bool exact_length, DocumentAnalysis analysis) {
  AudioFilePtr file = memory_file(cd_sample_info(num_bytes), counting_bytes(num_bytes), readable, fail);
  file->module = &COUNTED_MODULE;
  file->exact_length = exact_length;
  bytes_read = 0;
  AudioDocumentPtr document = audio_document_open_file(std::move(file), nullptr, analysis);
  EXPECT_TRUE(document);
  if (!document) return {};
  audio_document_wait_analyzed(*document);
  Analysed result;
  result.blocks = audio_document_get_block_count(*document);
  result.error = audio_document_get_error(*document).value_or("");
  result.graph_points = audio_document_get_graph(*document)->graph_data.size();
  result.bytes_read = bytes_read;
  return result;
}

// The first read alone decides whether the audio counts as unreadable, in both analyses.
TEST(AnalysisOfStatedLength, GivesWhatTheFullAnalysisGivesWithoutReadingThrough) {
  const struct {
    const char* what;
    std::uint64_t num_bytes;
    std::uint64_t readable;
    bool fail;
    std::uint64_t blocks;
    const char* error;
  } cases[] = {
      {"a long stream", 1000 * CD_BLOCK + 17, 1000 * CD_BLOCK + 17, false, 1001, ""},
      {"no audio", 0, 0, false, 1, ""},
      {"less than one block", 100, 100, false, 1, ""},
      {"ends inside its first block", 10 * CD_BLOCK, CD_BLOCK - 1, false, 11, "The audio data could not be read"},
      {"ends after its first block", 10 * CD_BLOCK, CD_BLOCK, false, 11, ""},
      {"no read succeeds", 10 * CD_BLOCK, 0, true, 11, "The audio data could not be read"},
      {"no read succeeds, no audio", 0, 0, true, 1, "The audio data could not be read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Analysed full = analyse_memory(c.num_bytes, c.readable, c.fail, true, DocumentAnalysis::waveform);
    const Analysed stated = analyse_memory(c.num_bytes, c.readable, c.fail, true, DocumentAnalysis::length);
    EXPECT_EQ(full.blocks, c.blocks);
    EXPECT_EQ(full.error, c.error);
    EXPECT_EQ(full.graph_points, c.blocks);
    EXPECT_EQ(stated.blocks, c.blocks);
    EXPECT_EQ(stated.error, c.error);
    EXPECT_EQ(stated.graph_points, 0u);
  }
  // One read of at most 256 KiB, where the full analysis reads everything.
  const std::uint64_t size = 1000 * CD_BLOCK;
  EXPECT_EQ(analyse_memory(size, size, false, true, DocumentAnalysis::waveform).bytes_read, size);
  EXPECT_LE(analyse_memory(size, size, false, true, DocumentAnalysis::length).bytes_read, 1u << 18);
}

TEST(AnalysisOfStatedLength, LengthThatIsNotStatedIsAnalysedInFull) {
  const Analysed analysed =
      analyse_memory(10 * CD_BLOCK, 3 * CD_BLOCK, false, false, DocumentAnalysis::length);
  EXPECT_EQ(analysed.blocks, 11u);
  EXPECT_EQ(analysed.graph_points, 11u);
  EXPECT_EQ(analysed.bytes_read, 3 * CD_BLOCK);
}

std::int64_t endless_silence(AudioFile& file, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  if (offset > file.si.numBytes) return -1;
  std::this_thread::sleep_for(std::chrono::milliseconds(10));  // a slow source
  const std::uint64_t count = std::min<std::uint64_t>(buffer.size(), file.si.numBytes - offset);
  std::fill_n(buffer.begin(), count, 0);
  return static_cast<std::int64_t>(count);
}

TEST(AnalysisOfStreams, CloseDuringAnalysisStopsIt) {
  // 20 GB of slowly read silence: a close that waited for the whole pass would take
  // minutes and time the test out.
  static const FormatModule silence_module = {"silence", "test", ".raw", nullptr,
                                              memory_close, endless_silence, nullptr};
  AudioFilePtr file = memory_file(cd_sample_info(20000000000ull / CD_BLOCK * CD_BLOCK), {}, 0);
  file->module = &silence_module;
  AudioDocumentPtr document = audio_document_open_file(std::move(file), nullptr);
  ASSERT_TRUE(document);
  ASSERT_TRUE(wait_until([&] { return audio_document_get_progress(*document) > 0.0; }));
  audio_document_close(std::move(document));
}

}  // namespace
