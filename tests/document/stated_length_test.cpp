// A split takes the length a file states instead of analysing its waveform; from there on
// everything must be what the full analysis gives. Both paths run over every kind of file.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>

#include "document/document_fixtures.h"
#include "document/split_writer.h"
#include "support/log_capture.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

struct SplitDone {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
};

const SplitCallbacks QUIET_CALLBACKS = {
    [](int, int, const std::string&, void*) {},
    [](void*, double) {},
    [](const std::string&, void*) {},
    [](void* self) {
      auto* done = static_cast<SplitDone*>(self);
      std::lock_guard lock(done->mutex);
      done->done = true;
      done->changed.notify_all();
    },
    [](void*) { return 0; },
    [](const std::string&, void*) { return static_cast<int>(OVERWRITE_NO); },
    nullptr,
};

// What a split command sees of the analysis, and the tracks it then writes.
struct Outcome {
  bool exact_length = false;
  std::uint64_t blocks = 0;
  std::string error;
  std::size_t graph_points = 0;
  std::map<std::string, Bytes> tracks;
  std::vector<std::string> warnings;  // with the folder's and temporary names made alike
};

// Breaks at a quarter and at the half of the length, each written to its own file.
void write_tracks(AudioDocument& document, std::uint64_t blocks, const fs::path& folder) {
  TrackBreakListPtr list = track_break_list_new("track");
  track_break_list_set_length(*list, blocks);
  for (std::uint64_t at : {std::uint64_t{0}, blocks / 4, blocks / 2}) {
    track_break_list_add(*list, 1, at, std::nullopt);
  }
  fs::create_directories(folder);
  SplitDone done;
  SplitCallbacks callbacks = QUIET_CALLBACKS;
  callbacks.user_data = &done;
  ASSERT_EQ(audio_document_start_split(document, *list, callbacks, folder.string()), 0);
  std::unique_lock lock(done.mutex);
  ASSERT_TRUE(done.changed.wait_for(lock, std::chrono::seconds(60), [&] { return done.done; }));
}

Outcome split_with(const std::string& path, DocumentAnalysis analysis, const fs::path& folder) {
  LogCapture log;
  Outcome outcome;
  ErrorText error;
  AudioDocumentPtr document = audio_document_open(path, &error, analysis);
  EXPECT_TRUE(document) << error.value_or("");
  if (!document) return outcome;
  audio_document_wait_analyzed(*document);
  outcome.exact_length = document->audio_file->exact_length;
  outcome.blocks = audio_document_get_block_count(*document);
  outcome.error = audio_document_get_error(*document).value_or("");
  outcome.graph_points = audio_document_get_graph(*document)->graph_data.size();
  if (outcome.error.empty()) write_tracks(*document, outcome.blocks, folder);
  audio_document_close(std::move(document));
  for (const auto& entry : fs::directory_iterator(folder)) {
    outcome.tracks[entry.path().filename().string()] = read_file(entry.path());
  }
  for (std::string warning : log.warnings()) {
    for (std::size_t at; (at = warning.find(folder.string())) != std::string::npos;) {
      warning.replace(at, folder.string().size(), "FOLDER");
    }
    // Temporary names end in a random part.
    for (std::size_t at; (at = warning.find(".tfold-")) != std::string::npos;) {
      warning.erase(at, std::string_view(".tfold-XXXXXX").size());
    }
    outcome.warnings.push_back(warning);
  }
  return outcome;
}

struct FileCase {
  std::string name;  // the file written into the test's folder
  Bytes bytes;
  bool exact_length;
  bool cuttable = true;  // the module writes tracks of it
};

Bytes wav_of_seconds(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, double seconds) {
  const auto frames = static_cast<std::size_t>(seconds * rate);
  // A few bytes more than whole frames: a partial block and a partial frame at the end.
  return canonical_wav(channels, rate, bits, counting_bytes(frames * channels * bits / 8 + 3));
}

// A header that promises more data than the file holds: the real size counts.
Bytes wav_with_lying_header() {
  Bytes wav = wav_of_seconds(2, 44100, 16, 2.5);
  const std::uint32_t declared = 0x7FFFFFF0;
  for (int k = 0; k < 4; ++k) wav[40 + k] = static_cast<std::uint8_t>(declared >> (8 * k));
  return wav;
}

// RF64: the data size is in the ds64 chunk, a LIST chunk follows the data.
Bytes rf64_of_seconds(double seconds) {
  const Bytes data = counting_bytes(static_cast<std::size_t>(seconds * 44100) * 4);
  Bytes body;
  append_chunk(body, "ds64", ds64_contents(4 + 36 + 24 + 8 + data.size() + 12, data.size(), data.size() / 4));
  append_chunk(body, "fmt ", pcm_fmt(2, 44100, 16));
  append_chunk_declared(body, "data", 0xFFFFFFFFu, data);
  append_chunk(body, "LIST", Bytes(4, 'L'));
  return rf64_wave(body);
}

Bytes joined(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

Bytes non_frame_data(std::size_t size) {
  Bytes junk(size);
  for (std::size_t i = 0; i < size; ++i) junk[i] = static_cast<std::uint8_t>(i * 7 % 128);
  return junk;
}

// An ID3v2 tag with a small body in front, ID3v1 at the end.
Bytes tagged(const Bytes& audio) {
  Bytes tag = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 100};
  tag.resize(110, 0);
  Bytes trailer(128, 0);
  trailer[0] = 'T';
  trailer[1] = 'A';
  trailer[2] = 'G';
  return joined(joined(tag, audio), trailer);
}

std::vector<FileCase> every_kind_of_file() {
  const Bytes cbr = read_file(fixture("mpeg_cbr128.mp3"));
  const Bytes plain = read_file(fixture("mpeg_cbr128_plain.mp3"));
  const Bytes vbr = read_file(fixture("mpeg_vbr.mp3"));
  std::vector<FileCase> cases = {
      {"wav8k8bit.wav", wav_of_seconds(1, 8000, 8, 2.5), true},
      {"wav11k.wav", wav_of_seconds(2, 11025, 16, 2.5), true},
      {"wav22k.wav", wav_of_seconds(1, 22050, 16, 2.5), true},
      {"wav32k.wav", wav_of_seconds(2, 32000, 16, 2.5), true},  // blocks of 426 and 427 frames
      {"wav44k.wav", wav_of_seconds(2, 44100, 16, 2.5), true},
      {"wav48k24bit.wav", wav_of_seconds(2, 48000, 24, 2.5), true},
      {"wav_lying_header.wav", wav_with_lying_header(), true},
      {"rf64.wav", rf64_of_seconds(2.5), true},
      {"cd.cdda.raw", counting_bytes(200 * 2352 + 7), true},
      {"truncated_info.mp3", slice(cbr, 0, cbr.size() - 200), true},
      {"truncated_plain.mp3", slice(plain, 0, plain.size() - 200), true},
      {"truncated_vbr.mp3", slice(vbr, 0, vbr.size() - 3000), true},
      {"junk_in_front.mp3", joined(non_frame_data(1000), cbr), true},
      {"junk_between.mp3", joined(joined(slice(plain, 0, 417 * 20), non_frame_data(300)),
                                  slice(plain, 417 * 20, plain.size() - 417 * 20)), true},
      {"tagged.mp3", tagged(cbr), true},
      {"two_streams.mp3", joined(cbr, cbr), true},
  };
  for (const char* name : {"mpeg_cbr128.mp3", "mpeg_cbr128_plain.mp3", "mpeg_vbr.mp3",
                           "mpeg_mono22.mp3", "mpeg_8k.mp3", "mpeg_layer2.mp2", "ogg_stereo44.ogg",
                           "ogg_mono22.ogg", "ogg_6ch48.ogg", "ogg_chained_same.ogg",
                           "flac_stereo8.flac", "flac_6ch24.flac", "flac_id3.flac",
                           "flac_unknown_length.flac"}) {
    cases.push_back({name, read_file(fixture(name)), true});
  }
  // Frame lengths the header does not give: nothing is stated, both paths analyse in full.
  cases.push_back({"mpeg_free.mp3", read_file(fixture("mpeg_free.mp3")), false, false});
  return cases;
}

TEST(StatedLength, SplitsExactlyAsTheFullAnalysisDoes) {
  audio_document_init();
  for (const FileCase& c : every_kind_of_file()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    write_file(dir / c.name, c.bytes);
    const Outcome full = split_with(dir / c.name, DocumentAnalysis::waveform, dir.path() / "full");
    const Outcome stated = split_with(dir / c.name, DocumentAnalysis::length, dir.path() / "stated");
    EXPECT_EQ(stated.exact_length, c.exact_length);
    EXPECT_EQ(stated.blocks, full.blocks);
    EXPECT_GT(full.blocks, 70u);
    EXPECT_EQ(stated.error, full.error);
    EXPECT_EQ(full.graph_points, full.blocks);
    // The waveform pass is skipped exactly when the length is stated.
    EXPECT_EQ(stated.graph_points, c.exact_length ? 0u : full.blocks);
    EXPECT_EQ(full.tracks.size(), c.cuttable ? 3u : 0u);
    EXPECT_TRUE(stated.tracks == full.tracks);
    EXPECT_EQ(stated.warnings, full.warnings);
  }
}

}  // namespace
