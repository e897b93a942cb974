// The MPEG frame walk on arbitrary bytes: the index it builds must describe frames that lie
// inside the file, in order and without overlap, and three consecutive cuts must together
// copy every indexed frame exactly once, in order, and nothing else. Gapless tracks of the
// same ranges of a layer III stream must each begin with an Info frame that tells the truth.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/mpeg/mpeg.h"
#include "formats/mpeg/mpeg_cutter.h"
#include "formats/mpeg/mpeg_frame.h"
#include "formats/mpeg/mpeg_gapless.h"
#include "formats/mpeg/mpeg_index.h"
#include "formats/mpeg/mpeg_info_tag.h"
#include "formats/registry.h"
#include "fuzz_support.h"

using namespace tfold_fuzz;

namespace {

std::vector<std::uint8_t> read_all(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  FilePtr fp(std::fopen(path.c_str(), "rb"));
  if (!fp) return bytes;
  std::uint8_t chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, fp.get())) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  return bytes;
}

void check_index(const MpegFrameIndex& index, std::uint64_t size) {
  std::uint64_t end_of_previous = 0;
  for (const MpegFrame& frame : index.frames) {
    FUZZ_CHECK(frame.bytes > 0);
    FUZZ_CHECK(frame.offset >= end_of_previous);
    FUZZ_CHECK(frame.offset + frame.bytes <= size);
    end_of_previous = frame.offset + frame.bytes;
  }
  if (index.truncated_frame) {
    FUZZ_CHECK(*index.truncated_frame >= end_of_previous);
    FUZZ_CHECK(*index.truncated_frame < size);
  }
  std::uint64_t end_of_gap = 0;
  for (const MpegGap& gap : index.gaps) {
    FUZZ_CHECK(gap.bytes > 0);
    FUZZ_CHECK(gap.offset >= end_of_gap);
    FUZZ_CHECK(gap.offset + gap.bytes <= size);
    end_of_gap = gap.offset + gap.bytes;
  }
  if (!index.frames.empty()) {
    const std::uint32_t per_frame = index.samples_per_frame;
    FUZZ_CHECK(per_frame == 384 || per_frame == 576 || per_frame == 1152);
  }
}

// A file as the module would have opened it, without the decoder the cutter never uses.
std::unique_ptr<MpegAudioFile> as_opened(const std::string& path, std::uint64_t size) {
  auto file = std::make_unique<MpegAudioFile>();
  file->module = mpeg_module();
  file->path = path;
  file->fp.reset(std::fopen(path.c_str(), "rb"));
  file->file_size = static_cast<std::int64_t>(size);
  file->si = SampleInfo{2, 44100, 176400, 4, 16, 176400ull * 3600, 2352};
  return file;
}

// Breaks at blocks 10 and 20: far enough apart that no frame can straddle both.
constexpr std::uint64_t BREAKS[][2] = {{0, 10 * 2352}, {10 * 2352, 20 * 2352}, {20 * 2352, 0}};

void check_gapless_tracks(MpegAudioFile& file, const MpegFrameIndex& index) {
  // The decoded length the frames give, so that the last track ends with them.
  file.si.numBytes = std::uint64_t{index.samples_per_frame} * index.frames.size() * file.si.blockAlign;
  for (const auto& range : BREAKS) {
    const std::string path = scratch_dir() + "/gapless.mp3";
    FilePtr out(std::fopen(path.c_str(), "w+b"));
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(mpeg_write_range(file, {.out = out.get(), .path = path, .start = range[0], .end = range[1], .gapless = true}) == 0);
    out.reset();
    const std::vector<std::uint8_t> track = read_all(path);
    std::remove(path.c_str());
    const auto tag = mpeg_info_tag_parse(track);
    FUZZ_CHECK(tag.has_value());
    FUZZ_CHECK(tag->tag_crc_matches);
    FUZZ_CHECK(tag->bytes == track.size());
    const auto header = mpeg_parse_frame_header(track);
    FUZZ_CHECK(header.has_value());
    FUZZ_CHECK(tag->music_crc == mpeg_lame_crc(std::span(track).subspan(header->frame_bytes)));
    FUZZ_CHECK(tag->delay <= 2880);
    FUZZ_CHECK(tag->padding >= MPEG_DECODER_DELAY);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  quiet_glib_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = write_input("input.mp3", data, size);
  std::string reason;
  std::optional<MpegFrameIndex> index;
  {
    FilePtr fp(std::fopen(path.c_str(), "rb"));
    FUZZ_CHECK(fp != nullptr);
    index = mpeg_index_frames(fp.get(), size, reason);
  }
  if (!index) return 0;
  check_index(*index, size);

  std::vector<std::uint8_t> expected;
  for (const MpegFrame& frame : index->frames) {
    expected.insert(expected.end(), data + frame.offset, data + frame.offset + frame.bytes);
  }
  auto file = as_opened(path, size);
  const bool cuttable = !index->free_format && !index->frames.empty();
  std::vector<std::uint8_t> copied;
  for (const auto& range : BREAKS) {
    const std::string out = scratch_dir() + "/track.mp3";
    const int result = format_write_track(*file, {.path = out, .start = range[0], .end = range[1]});
    FUZZ_CHECK(result == (cuttable ? 0 : -1));
    if (result != 0) {
      FUZZ_CHECK(!std::filesystem::exists(out));  // a refused cut leaves no file
      continue;
    }
    const std::vector<std::uint8_t> track = read_all(out);
    copied.insert(copied.end(), track.begin(), track.end());
    std::remove(out.c_str());
  }
  if (cuttable) FUZZ_CHECK(copied == expected);
  if (cuttable && index->layer == 3) check_gapless_tracks(*file, *index);
  return 0;
}
