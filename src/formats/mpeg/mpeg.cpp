#include "formats/mpeg/mpeg.h"

#include <sys/types.h>

#include <algorithm>
#include <cinttypes>

#include "formats/mpeg/mpeg_cutter.h"
#include "formats/mpeg/mpeg_verify.h"

static_assert(sizeof(off_t) >= 8, "libmpg123 positions must be 64-bit");

namespace {

const char* table_name(const char* const* table, std::size_t size, int code) {
  if (code < 0 || static_cast<std::size_t>(code) >= size) return "?";
  return table[code];
}

std::string details_text(const mpg123_frameinfo2& info) {
  static const char* const versions[] = {"1", "2", "2.5"};
  static const char* const layers[] = {"?", "I", "II", "III"};
  static const char* const modes[] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono"};
  gchar* text = g_strdup_printf("MPEG-%s Layer %s, %s, %d kbps",
                                table_name(versions, std::size(versions), info.version),
                                table_name(layers, std::size(layers), info.layer),
                                table_name(modes, std::size(modes), info.mode), info.bitrate);
  std::string result(text);
  g_free(text);
  return result;
}

SampleInfo sample_info(const mpg123_frameinfo2& info, std::uint64_t length_in_samples) {
  const std::uint32_t channels = info.mode == MPG123_M_MONO ? 1 : 2;
  return format_sample_info(static_cast<std::uint32_t>(info.rate), channels, 16, length_in_samples);
}

// -1 when the decoder does not know.
long decoder_state(mpg123_handle* decoder, mpg123_state key) {
  long value = -1;
  if (mpg123_getstate(decoder, key, &value, nullptr) != MPG123_OK) return -1;
  return value;
}

// The trim of gapless decoding, or nullopt when the decoder trims nothing.
std::optional<MpegGapless> gapless_trim(mpg123_handle* decoder) {
  long flags = 0;
  double unused = 0;
  if (mpg123_getparam(decoder, MPG123_FLAGS, &flags, &unused) != MPG123_OK) return std::nullopt;
  if ((flags & MPG123_GAPLESS) == 0) return std::nullopt;
  const long encoder_delay = decoder_state(decoder, MPG123_ENC_DELAY);
  const long decoder_delay = decoder_state(decoder, MPG123_DEC_DELAY);
  if (encoder_delay < 0 || decoder_delay < 0) return std::nullopt;
  MpegGapless trim{static_cast<std::uint64_t>(encoder_delay), static_cast<std::uint64_t>(decoder_delay), {}};
  if (const long padding = decoder_state(decoder, MPG123_ENC_PADDING); padding >= 0) {
    trim.padding = static_cast<std::uint64_t>(padding);
  }
  return trim;
}

// The length from the frames, when they state it; the index is kept for the cuts.
std::optional<std::uint64_t> stated_samples(MpegAudioFile& file,
                                            const std::optional<MpegGapless>& gapless) {
  std::string reason;
  file.index = mpeg_index_frames(file.fp.get(), static_cast<std::uint64_t>(file.file_size), reason);
  if (!file.index) {
    g_debug("Could not index the MP3 frames: %s", reason.c_str());
    return std::nullopt;
  }
  return mpeg_decoded_samples(*file.index, gapless);
}

// The length counted by the decoder itself, which reads every frame header once more.
const char* scanned_samples(mpg123_handle* decoder, std::uint64_t& samples) {
  g_debug("Scanning MP3 file...");
  if (mpg123_scan(decoder) != MPG123_OK) return "Failed to scan MP3";
  const off_t length = mpg123_length(decoder);
  samples = length > 0 ? static_cast<std::uint64_t>(length) : 0;
  return nullptr;
}

// Opens the decoder on the file and fills si, details, gapless_delay, exact_length and,
// where the stream can be indexed, index. nullptr on success, else the reason.
const char* start_decoder(MpegAudioFile& file) {
  file.decoder.reset(mpg123_new(nullptr, nullptr));
  mpg123_handle* decoder = file.decoder.get();
  if (decoder == nullptr) return "Failed to create MP3 decoder";
  // The library's own notes would bypass the program's logging.
  mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  // Junk between frames (a damaged download, a tag in the middle) may be longer than the
  // library's default search; the frame index finds the frames behind it, so must the decoder.
  mpg123_param(decoder, MPG123_RESYNC_LIMIT, -1, 0);
  if (mpg123_open(decoder, file.path.c_str()) != MPG123_OK) return "mpg123_open() failed";
  g_debug("Detected MP3 format");
  long rate = 0;
  int channels = 0;
  int encoding = 0;
  if (mpg123_getformat(decoder, &rate, &channels, &encoding) != MPG123_OK) {
    return "Could not get MP3 file format";
  }
  const std::optional<MpegGapless> gapless = gapless_trim(decoder);
  std::optional<std::uint64_t> samples = stated_samples(file, gapless);
  file.exact_length = samples.has_value();
  if (!samples) {
    samples = 0;
    if (const char* reason = scanned_samples(decoder, *samples)) return reason;
  }
  mpg123_frameinfo2 info{};
  if (mpg123_info2(decoder, &info) != MPG123_OK) return "Could not read MP3 frame information";
  file.si = sample_info(info, *samples);
  g_debug("Channels: %u, rate: %u, bits: %u, decoded size: %" PRIu64, file.si.channels,
          file.si.samplesPerSec, file.si.bitsPerSample, file.si.numBytes);
  file.details = details_text(info);
  file.gapless_delay = gapless ? gapless->encoder_delay + gapless->decoder_delay : 0;
  mpg123_format_none(decoder);
  const int channel_code = file.si.channels == 1 ? MPG123_MONO : MPG123_STEREO;
  if (mpg123_format(decoder, static_cast<long>(file.si.samplesPerSec), channel_code,
                    MPG123_ENC_SIGNED_16) != MPG123_OK) {
    return "Failed to set mpg123 format";
  }
  return nullptr;
}

void seek_decoder(MpegAudioFile& file, std::uint64_t offset) {
  mpg123_seek(file.decoder.get(), static_cast<off_t>(offset / file.si.blockAlign), SEEK_SET);
  file.decoded_pos = offset;
}

// One decoding attempt: fills as much of buffer as the stream holds. The byte count, or
// -1 on a real decoding error before any byte was decoded: the samples decoded before an
// error are the stream's and are delivered. A format notice is no error: decoding goes on.
std::int64_t decode_into(MpegAudioFile& file, std::span<std::uint8_t> buffer) {
  std::size_t filled = 0;
  while (filled < buffer.size()) {
    std::size_t done = 0;
    const int result =
        mpg123_read(file.decoder.get(), buffer.data() + filled, buffer.size() - filled, &done);
    filled += done;
    if (result == MPG123_DONE) break;
    if (result == MPG123_NEW_FORMAT) continue;
    if (result != MPG123_OK) return filled > 0 ? static_cast<std::int64_t>(filled) : -1;
    if (done == 0) break;
  }
  return static_cast<std::int64_t>(filled);
}

}  // namespace

std::optional<std::uint64_t> mpeg_decoded_samples(const MpegFrameIndex& index,
                                                  const std::optional<MpegGapless>& gapless) {
  if (index.free_format || index.frames.empty()) return std::nullopt;
  const std::uint64_t frame_samples = index.frames.size() * std::uint64_t{index.samples_per_frame};
  if (!gapless) return frame_samples;
  if (!gapless->padding || !index.info_frame_count) return std::nullopt;
  // The decoder drops the delays at the head. It ends the padding before the end of the
  // frames the Info frame announces, or of all frames when more follow; a stream that ends
  // earlier (a truncated file) is delivered to its last whole frame.
  const std::uint64_t announced = *index.info_frame_count * index.samples_per_frame;
  const std::uint64_t tail = std::max(frame_samples, announced);
  const std::uint64_t head = gapless->encoder_delay + gapless->decoder_delay;
  const std::uint64_t end = tail + gapless->decoder_delay > *gapless->padding
                                ? std::min(frame_samples, tail + gapless->decoder_delay - *gapless->padding)
                                : 0;
  return end > head ? end - head : 0;
}

namespace {

OpenResult open_mpeg(const FormatModule& module, const std::string& path) {
  if (!format_has_extension(module, path) && !format_has_extension(module, path, ".mp2")) {
    ErrorText reason;
    set_error_message(&reason, "%s", "File extension is not .mp3/.mp2");
    return OpenResult::not_this_format(reason);
  }
  return mpeg_open_stream(module, path);
}

}  // namespace

OpenResult mpeg_open_stream(const FormatModule& module, const std::string& path) {
  ErrorText reason;
  auto file = std::make_unique<MpegAudioFile>();
  if (!format_open_common(module, *file, path, &reason)) return OpenResult::not_this_format(reason);
  if (const char* failure = start_decoder(*file)) return OpenResult::not_this_format(failure);
  return OpenResult::opened(std::move(file));
}

const FormatModule* mpeg_module() {
  static const FormatModule module = {.name = "MPEG Audio Layer I/II/III",
                                      .library = "libmpg123",
                                      .extension = ".mp3",
                                      .open_file = open_mpeg,
                                      .close_file = mpeg_close_file,
                                      .read_data = mpeg_read_data,
                                      .write_range = mpeg_write_range,
                                      .carries_tags = true,
                                      .concurrent_writes = 1,
                                      .verify_track = mpeg_verify_track};
  static bool initialised = false;
  if (initialised) return &module;
  if (mpg123_init() != MPG123_OK) {
    g_warning("Failed to initialize libmpg123");
    return nullptr;
  }
  initialised = true;
  return &module;
}

AudioFilePtr mpeg_open_file(const FormatModule& module, const std::string& path, ErrorText* error) {
  return format_take_file(open_mpeg(module, path), error);
}

void mpeg_close_file(const FormatModule& /*module*/, AudioFilePtr file) {
  if (!file) return;
  auto& mpeg = static_cast<MpegAudioFile&>(*file);
  format_close_common(mpeg);
  mpeg.decoder.reset();
}

std::int64_t mpeg_read_data(AudioFile& base, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  auto& file = static_cast<MpegAudioFile&>(base);
  if (offset > file.si.numBytes) return -1;
  if (offset != file.decoded_pos) seek_decoder(file, offset);
  for (int attempt = 1;; ++attempt) {
    const std::int64_t got = decode_into(file, buffer);
    if (got >= 0) {
      file.decoded_pos += static_cast<std::uint64_t>(got);
      return got;
    }
    g_warning("MP3 decoding failed: %s", mpg123_strerror(file.decoder.get()));
    if (attempt == 2) return -1;
    g_message("Retrying read at %" PRIu64 "...", file.decoded_pos);
    seek_decoder(file, offset);
  }
}
