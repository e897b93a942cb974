// The WAV chunk walk on arbitrary bytes; a file it accepts is read at its edges and a piece of
// it is written as a new WAV, which must open again with the same format and hold exactly the
// bytes read from the source.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/registry.h"
#include "formats/wav/wav.h"
#include "fuzz_support.h"

using namespace tfold_fuzz;

namespace {

constexpr std::size_t READ_SIZE = 4096;

std::vector<std::uint8_t> read_at(AudioFile& file, std::uint64_t offset, std::size_t wanted) {
  std::vector<std::uint8_t> buffer(wanted);
  const std::int64_t got = wav_read_data(file, buffer, offset);
  FUZZ_CHECK(got >= -1 && got <= static_cast<std::int64_t>(wanted));
  // -1 only past the end of the data; exactly at the end there is nothing left to read.
  FUZZ_CHECK((got == -1) == (offset > file.si.numBytes));
  if (offset == file.si.numBytes) FUZZ_CHECK(got == 0);
  buffer.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return buffer;
}

void check_written_range(AudioFile& source, std::uint64_t start, std::uint64_t end) {
  const std::string out = scratch_dir() + "/out.wav";
  FUZZ_CHECK(format_write_track(source, {.path = out, .start = start, .end = end}) == 0);
  const std::vector<std::uint8_t> expected = read_at(source, start, static_cast<std::size_t>(end - start));

  ErrorText error;
  AudioFilePtr copy = wav_open_file(*wav_module(), out, &error);
  FUZZ_CHECK(copy != nullptr);
  FUZZ_CHECK(copy->si.channels == source.si.channels);
  FUZZ_CHECK(copy->si.samplesPerSec == source.si.samplesPerSec);
  FUZZ_CHECK(copy->si.avgBytesPerSec == source.si.avgBytesPerSec);
  FUZZ_CHECK(copy->si.blockAlign == source.si.blockAlign);
  FUZZ_CHECK(copy->si.bitsPerSample == source.si.bitsPerSample);
  FUZZ_CHECK(copy->si.numBytes == expected.size());
  // An extensible source gives an extensible copy with the same layout.
  FUZZ_CHECK(static_cast<const WavAudioFile&>(*copy).extensible ==
             static_cast<const WavAudioFile&>(source).extensible);
  FUZZ_CHECK(read_at(*copy, 0, READ_SIZE) == expected);
  wav_close_file(*wav_module(), std::move(copy));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  quiet_glib_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = write_input("input.wav", data, size);
  ErrorText error;
  AudioFilePtr file = wav_open_file(*wav_module(), path, &error);
  if (!file) {
    FUZZ_CHECK(error.has_value());
    return 0;
  }
  const auto& wav = static_cast<const WavAudioFile&>(*file);
  FUZZ_CHECK(wav.data_size == file->si.numBytes);
  FUZZ_CHECK(wav.data_offset >= 44 && wav.data_offset <= file->file_size);

  const std::uint64_t data_size = file->si.numBytes;
  for (const std::uint64_t offset : {std::uint64_t{0}, data_size / 2, data_size, data_size + 1}) {
    read_at(*file, offset, READ_SIZE);
  }
  // The bytes the source really holds: a header may promise more than the file has.
  const std::uint64_t present = read_at(*file, 0, READ_SIZE).size();
  const std::uint64_t start = std::min<std::uint64_t>(present, file->si.blockAlign);
  check_written_range(*file, start, std::min<std::uint64_t>(present, start + 1000));
  wav_close_file(*wav_module(), std::move(file));
  return 0;
}
