#include "formats/track_check.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <vector>

namespace {

// About six seconds of CD audio a step: long enough that starting the source's half on
// another thread costs nothing, short enough that four tracks at once stay in a few MiB.
constexpr std::size_t CHUNK_BYTES = 1 << 20;

std::int32_t sample_value(const std::uint8_t* bytes, std::uint32_t width) {
  if (width == 1) return bytes[0];
  std::uint32_t value = 0;
  for (std::uint32_t b = 0; b < width; ++b) value |= std::uint32_t{bytes[b]} << (8 * b);
  const std::uint32_t sign = std::uint32_t{1} << (8 * width - 1);
  if (width < 4 && (value & sign) != 0) value |= ~((sign << 1) - 1);
  return static_cast<std::int32_t>(value);
}

bool within(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t width, unsigned tolerance) {
  const std::int64_t difference = std::int64_t{sample_value(a, width)} - sample_value(b, width);
  return static_cast<std::uint64_t>(std::llabs(difference)) <= tolerance;
}

// The frame of the first sample beyond tolerance among the common whole frames.
std::optional<std::uint64_t> first_sample_apart(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                                                const SampleInfo& si, unsigned tolerance) {
  const std::size_t common = std::min(a.size(), b.size());
  // Nearly every chunk matches: the library's comparison tells it at memory speed.
  if (common == 0 || std::memcmp(a.data(), b.data(), common) == 0) return std::nullopt;
  const auto mismatch = std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(common), b.begin());
  const auto first_byte = static_cast<std::size_t>(mismatch.first - a.begin());
  if (first_byte == common) return std::nullopt;
  const std::uint32_t width = std::max<std::uint32_t>(1, si.bitsPerSample / 8);
  const std::size_t frame = std::max<std::uint32_t>(1, si.blockAlign);
  for (std::size_t at = first_byte / width * width; at + width <= common; at += width) {
    if (!within(a.data() + at, b.data() + at, width, tolerance)) return at / frame;
  }
  return std::nullopt;
}

// Fills buffer from PCM byte offset on: the byte count, fewer only at the end, -1 when the
// reader failed before any byte.
std::int64_t read_fully(AudioFile& file, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const std::int64_t got = file.module->read_data(file, buffer.subspan(done), offset + done);
    if (got < 0) return done > 0 ? static_cast<std::int64_t>(done) : -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

std::string format_text(const SampleInfo& si) {
  return std::to_string(si.samplesPerSec) + " Hz / " + std::to_string(si.channels) + " ch / " +
         std::to_string(si.bitsPerSample) + " bit";
}

}  // namespace

std::optional<std::uint64_t> pcm_first_difference(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                                                  const SampleInfo& si, unsigned tolerance) {
  if (const std::optional<std::uint64_t> apart = first_sample_apart(a, b, si, tolerance)) return apart;
  if (a.size() == b.size()) return std::nullopt;
  return std::min(a.size(), b.size()) / std::max<std::uint32_t>(1, si.blockAlign);
}

TrackCheck format_compare_decoded(AudioFile& source, std::uint64_t start, std::uint64_t end, AudioFile& track,
                                  unsigned tolerance) {
  const SampleInfo& si = source.si;
  if (track.si.samplesPerSec != si.samplesPerSec || track.si.channels != si.channels ||
      track.si.blockAlign != si.blockAlign || track.si.bitsPerSample != si.bitsPerSample) {
    return TrackCheck::failed("it holds " + format_text(track.si) + ", its source " + format_text(si));
  }
  const std::uint64_t stop = end == 0 ? si.numBytes : std::min(end, si.numBytes);
  const std::size_t chunk = std::max<std::size_t>(1, CHUNK_BYTES / si.blockAlign) * si.blockAlign;
  std::vector<std::uint8_t> expected(chunk);
  std::vector<std::uint8_t> found(chunk);
  for (std::uint64_t done = 0;;) {
    const std::uint64_t position = start + done;
    const auto wanted = static_cast<std::size_t>(position < stop ? std::min<std::uint64_t>(chunk, stop - position) : 0);
    std::future<std::int64_t> source_part = std::async(
        [&] { return wanted == 0 ? 0 : read_fully(source, std::span(expected).first(wanted), position); });
    const std::int64_t track_got = read_fully(track, found, done);
    const std::int64_t source_got = source_part.get();
    if (source_got < 0) {
      return TrackCheck::failed("its source cannot be read at sample " + std::to_string(position / si.blockAlign));
    }
    if (track_got < 0) return TrackCheck::differs_at(done / si.blockAlign);
    const auto source_bytes = std::span<const std::uint8_t>(expected).first(static_cast<std::size_t>(source_got));
    const auto track_bytes = std::span<const std::uint8_t>(found).first(static_cast<std::size_t>(track_got));
    if (const std::optional<std::uint64_t> apart = pcm_first_difference(track_bytes, source_bytes, si, tolerance)) {
      return TrackCheck::differs_at(done / si.blockAlign + *apart);
    }
    if (source_got == 0) return TrackCheck::match();
    done += static_cast<std::uint64_t>(source_got);
  }
}

TrackCheck format_verify_decoded(AudioFile& source, const TrackRequest& request, OpenResult opened,
                                 unsigned tolerance, const TrackOwnCheck& own_check) {
  if (opened.kind != OpenResult::Kind::Opened) {
    return TrackCheck::failed("it cannot be read back" + (opened.reason.empty() ? "" : ": " + opened.reason));
  }
  AudioFilePtr track = std::move(opened.file);
  track->path = std::string(request.path);
  TrackCheck check = format_compare_decoded(source, request.start, request.end, *track, tolerance);
  if (check.matches && own_check) check = own_check(*track);
  const FormatModule* module = track->module;
  module->close_file(*module, std::move(track));
  return check;
}
