#include "detect/envelope_reader.h"

#include <algorithm>
#include <vector>

#include "formats/registry.h"

namespace {

// Large enough that the format layer's cost per call vanishes, small enough to stay in the
// cache between the decoder and the filter.
constexpr std::size_t READ_BYTES = 1 << 18;

}  // namespace

std::optional<Envelope> envelope_read(AudioFile& file, ErrorText* error, EnvelopeProgressFunc progress,
                                      void* user_data) {
  const SampleInfo& si = file.si;
  const std::uint32_t bytes_per_sample = si.channels == 0 ? 0 : si.blockAlign / si.channels;
  if (bytes_per_sample < 1 || bytes_per_sample > 4 || si.samplesPerSec == 0) {
    set_error_message(error, "%u bytes a sample cannot be measured", bytes_per_sample);
    return std::nullopt;
  }
  EnvelopeBuilder builder(si.samplesPerSec, si.channels, bytes_per_sample);
  std::vector<std::uint8_t> buffer(std::max<std::size_t>(READ_BYTES / si.blockAlign, 1) * si.blockAlign);
  std::uint64_t offset = 0;
  for (;;) {
    const std::int64_t got = format_read_data(file, buffer, offset);
    if (got < 0 && offset == 0) {
      set_error_message(error, "%s", "The audio data could not be read");
      return std::nullopt;
    }
    if (got <= 0) break;
    // Whole frames only: a decoder that hands out a partial frame gives the rest next time.
    const std::uint64_t whole = static_cast<std::uint64_t>(got) / si.blockAlign * si.blockAlign;
    if (whole == 0) break;
    builder.feed(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(whole)));
    offset += whole;
    if (progress != nullptr && si.numBytes > 0) {
      progress(user_data, std::min(1.0, static_cast<double>(offset) / static_cast<double>(si.numBytes)));
    }
  }
  return builder.finish();
}
