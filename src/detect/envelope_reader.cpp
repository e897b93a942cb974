#include "detect/envelope_reader.h"

#include <algorithm>

#include "formats/registry.h"
#include "io/read_ahead.h"

namespace {

// Large enough that the format layer's cost per call vanishes. The filter's lanes are cut by
// the piece, so its levels' last bits depend on this size.
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
  // The reading runs ahead on the other processor while the filter works on what came before.
  const auto read = [&file](std::span<std::uint8_t> buffer, std::uint64_t offset) {
    return format_read_data(file, buffer, offset);
  };
  ReadAhead reader(read, std::max<std::size_t>(READ_BYTES / si.blockAlign, 1) * si.blockAlign, si.blockAlign);
  std::uint64_t offset = 0;
  for (std::span<const std::uint8_t> piece = reader.next(); !piece.empty(); piece = reader.next()) {
    builder.feed(piece);
    offset += piece.size();
    if (progress != nullptr && si.numBytes > 0) {
      progress(user_data, std::min(1.0, static_cast<double>(offset) / static_cast<double>(si.numBytes)));
    }
  }
  if (offset == 0 && reader.failed()) {
    set_error_message(error, "%s", "The audio data could not be read");
    return std::nullopt;
  }
  return builder.finish();
}
