// The FLAC module on arbitrary bytes: the search for the signature behind ID3v2 tags and
// libFLAC's reading under it. A stream that opens is read through and at its edges. One that
// reads through to its stated end is read again in pieces, which must agree, and a block of
// it is encoded as a new track, which must open again with the same format and hold exactly
// the samples read from the source; so must a track of its frames copied, from the second
// block to the end.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <unistd.h>

#include "formats/flac/flac.h"
#include "formats/flac/flac_cuesheet.h"
#include "formats/registry.h"
#include "fuzz_support.h"

using namespace tfold_fuzz;

namespace {

// The fuzzer's files are small; a stream that promises more is read only this far.
constexpr std::uint64_t READ_LIMIT = 1 << 20;

std::vector<std::uint8_t> read_at(AudioFile& file, std::uint64_t offset, std::size_t wanted) {
  std::vector<std::uint8_t> buffer(wanted);
  const std::int64_t got = flac_read_data(file, buffer, offset);
  FUZZ_CHECK(got >= -1 && got <= static_cast<std::int64_t>(wanted));
  if (offset > file.si.numBytes) FUZZ_CHECK(got == -1);
  if (offset == file.si.numBytes) FUZZ_CHECK(got == 0);
  buffer.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return buffer;
}

void check_track(AudioFile& source, const std::vector<std::uint8_t>& present, bool frame_copy) {
  const SampleInfo& si = source.si;
  // Block 1, from its first sample to the next block's, as the split writer asks for it; with
  // frame_copy to the end, so that whole frames lie inside.
  const std::uint64_t first = format_block_offset(1, si);
  const std::uint64_t end = frame_copy ? present.size() : format_block_offset(2, si);
  if (si.bufferSize == 0 || end > present.size() || first >= end) return;
  const std::string out = scratch_dir() + "/track.flac";
  std::remove(out.c_str());
  const TrackRequest request{
      .path = out, .start = first, .end = frame_copy ? 0 : end, .track_number = 2, .frame_copy = frame_copy};
  // A source may fail its MD5 check, or refuse a seek its frames allowed reading through;
  // a failed track must leave nothing behind.
  if (format_write_track(source, request) != 0) {
    FUZZ_CHECK(access(out.c_str(), F_OK) != 0);
    return;
  }

  ErrorText error;
  AudioFilePtr track = flac_open_file(*flac_module(), out, &error);
  FUZZ_CHECK(track != nullptr);
  FUZZ_CHECK(track->si.channels == si.channels);
  FUZZ_CHECK(track->si.samplesPerSec == si.samplesPerSec);
  FUZZ_CHECK(track->si.bitsPerSample == si.bitsPerSample);
  FUZZ_CHECK(track->si.numBytes == end - first);
  const std::vector<std::uint8_t> expected(present.begin() + static_cast<std::ptrdiff_t>(first),
                                           present.begin() + static_cast<std::ptrdiff_t>(end));
  FUZZ_CHECK(read_at(*track, 0, static_cast<std::size_t>(end - first)) == expected);
  flac_close_file(*flac_module(), std::move(track));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  quiet_glib_logging();
  return 0;
}

// The sheet an image may carry, and the file read as a break list, as split reads it.
void check_embedded_sheet(const std::string& path, AudioFile& file) {
  if (const std::optional<EmbeddedSheet> sheet = flac_embedded_sheet(file); sheet && sheet->text.empty()) {
    FUZZ_CHECK(sheet->rate == file.si.samplesPerSec);
  }
  TrackBreakListPtr list = track_break_list_new("fuzz");
  track_break_list_set_length(*list, NO_END);
  if (track_break_list_read(path, *list) == 1) name_every_break(*list);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = write_input("input.flac", data, size);
  ErrorText error;
  AudioFilePtr file = flac_open_file(*flac_module(), path, &error);
  if (!file) {
    FUZZ_CHECK(error.has_value());
    return 0;
  }
  check_embedded_sheet(path, *file);
  const SampleInfo& si = file->si;
  FUZZ_CHECK(si.channels >= 1 && si.channels <= 8);
  FUZZ_CHECK(si.blockAlign == si.channels * (si.bitsPerSample / 8));
  FUZZ_CHECK(si.numBytes % si.blockAlign == 0);

  const auto limit = static_cast<std::size_t>(std::min(si.numBytes, READ_LIMIT));
  const std::vector<std::uint8_t> present = read_at(*file, 0, limit);
  read_at(*file, si.numBytes, 16);
  read_at(*file, si.numBytes + 1, 16);
  if (present.size() != si.numBytes) {
    flac_close_file(*flac_module(), std::move(file));
    return 0;
  }
  // Pieces that start inside frames and samples, read backwards, give the same bytes.
  const std::size_t piece = std::max<std::size_t>(1, present.size() / 3 + 1);
  for (std::size_t at = present.size(); at-- > 0;) {
    if (at % piece != 0 && at != present.size() - 1) continue;
    const std::vector<std::uint8_t> again = read_at(*file, at, std::min<std::size_t>(piece, present.size() - at));
    FUZZ_CHECK(std::equal(again.begin(), again.end(), present.begin() + static_cast<std::ptrdiff_t>(at)));
  }
  check_track(*file, present, false);
  check_track(*file, present, true);
  flac_close_file(*flac_module(), std::move(file));
  return 0;
}
