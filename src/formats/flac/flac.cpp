#include "formats/flac/flac.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <optional>

#include "io/file_copy.h"
#include "formats/flac/flac_cuesheet.h"
#include "formats/flac/flac_encoder.h"
#include "formats/flac/flac_frame_copy.h"
#include "formats/tags/id3v2_size.h"
#include "formats/track_check.h"
#include "io/read_at.h"

namespace {

constexpr std::size_t ID3V2_HEADER_SIZE = 10;
constexpr unsigned MIN_BITS = 4;  // the smallest depth the format allows
// Encoding is the whole cost of a track, and each track has its own decoder and encoder.
constexpr unsigned PARALLEL_TRACKS = 4;

// How a sample of the stream is laid out in the PCM the module hands out.
struct PcmLayout {
  unsigned bytes = 0;  // per sample of one channel
  unsigned shift = 0;  // left shift that puts a narrower depth at the top of its bytes
};

PcmLayout pcm_layout(unsigned bits) {
  const unsigned bytes = (bits + 7) / 8;
  return {bytes, bytes * 8 - bits};
}

// Where "fLaC" begins: at the start, or behind the ID3v2 tags that some taggers put before it.
std::optional<std::uint64_t> stream_start(int fd, std::uint64_t file_size) {
  std::uint64_t position = 0;
  std::uint8_t head[ID3V2_HEADER_SIZE];
  while (position + 4 <= file_size) {
    const std::size_t wanted = static_cast<std::size_t>(
        std::min<std::uint64_t>(ID3V2_HEADER_SIZE, file_size - position));
    const std::span<std::uint8_t> bytes(head, wanted);
    if (read_at(fd, bytes, position) != static_cast<std::int64_t>(wanted)) return std::nullopt;
    if (std::memcmp(head, "fLaC", 4) == 0) return position;
    const std::uint64_t tag = mpeg_id3v2_size(bytes);
    if (tag == 0) return std::nullopt;
    position += tag;
  }
  return std::nullopt;
}

template <unsigned Bytes>
void interleave(const FlacFrame& frame, std::uint32_t count, unsigned channels, unsigned shift,
                std::uint8_t* out) {
  for (std::uint32_t i = 0; i < count; ++i) {
    for (unsigned c = 0; c < channels; ++c) {
      const auto value = static_cast<std::uint32_t>(frame.channels[c][i]) << shift;
      if constexpr (Bytes == 1) {
        // WAV's convention, which every reader of 8-bit PCM follows: unsigned, 128 is silence.
        *out++ = static_cast<std::uint8_t>(value + 128);
      } else {
        for (unsigned b = 0; b < Bytes; ++b) *out++ = static_cast<std::uint8_t>(value >> (8 * b));
      }
    }
  }
}

// The first `count` samples of the frame as interleaved PCM.
void interleave_frame(const FlacFrame& frame, std::uint32_t count, unsigned channels,
                      PcmLayout layout, std::uint8_t* out) {
  switch (layout.bytes) {
    case 1: interleave<1>(frame, count, channels, layout.shift, out); break;
    case 2: interleave<2>(frame, count, channels, layout.shift, out); break;
    case 3: interleave<3>(frame, count, channels, layout.shift, out); break;
    default: interleave<4>(frame, count, channels, layout.shift, out); break;
  }
}

std::string vendor_of(const FLAC__StreamMetadata* comment) {
  if (comment == nullptr || comment->data.vorbis_comment.vendor_string.entry == nullptr) {
    return "unnamed encoder";
  }
  const auto& vendor = comment->data.vorbis_comment.vendor_string;
  return std::string(reinterpret_cast<const char*>(vendor.entry), vendor.length);
}

std::string details_text(const FlacAudioFile& file) {
  const FLAC__StreamMetadata_StreamInfo& info = file.stream_info;
  const double pcm_bytes = static_cast<double>(file.total_samples) * info.channels *
                           info.bits_per_sample / 8.0;
  const double stream_bytes = static_cast<double>(file.file_size) - static_cast<double>(file.stream_start);
  const std::unique_ptr<gchar, decltype(&g_free)> text(
      pcm_bytes > 0 ? g_strdup_printf("%s, %u bit, compression ratio %.3f",
                                      vendor_of(file.vorbis_comment.get()).c_str(),
                                      info.bits_per_sample, stream_bytes / pcm_bytes)
                    : g_strdup_printf("%s, %u bit", vendor_of(file.vorbis_comment.get()).c_str(),
                                      info.bits_per_sample),
      g_free);
  return text.get();
}

bool usable_format(const FLAC__StreamMetadata_StreamInfo& info, const std::string& path,
                   ErrorText* error) {
  const bool format_ok = info.channels >= 1 && info.channels <= FLAC__MAX_CHANNELS &&
                         info.bits_per_sample >= MIN_BITS && info.bits_per_sample <= 32 &&
                         info.sample_rate > 0;
  // libFLAC turns frame numbers into sample numbers with these: a stream that contradicts
  // itself here would put the same sample at two places.
  const bool blocks_ok = info.min_blocksize >= FLAC__MIN_BLOCK_SIZE &&
                         info.min_blocksize <= info.max_blocksize;
  if (format_ok && blocks_ok) return true;
  const std::unique_ptr<gchar, decltype(&g_free)> reason(
      g_strdup_printf("Unsupported FLAC format in %s: %u Hz, %u channels, %u bit, blocks of %u to %u samples",
                      path.c_str(), info.sample_rate, info.channels, info.bits_per_sample,
                      info.min_blocksize, info.max_blocksize),
      g_free);
  set_error_message(error, "%s", reason.get());
  return false;
}

// Samples narrower than their bytes are handed out at the top of them: the PCM is of whole bytes.
SampleInfo sample_info(const FLAC__StreamMetadata_StreamInfo& info, std::uint64_t total_samples) {
  const PcmLayout layout = pcm_layout(info.bits_per_sample);
  return format_sample_info(info.sample_rate, info.channels, layout.bytes * 8, total_samples);
}

int descriptor(const AudioFile& file) { return fileno(file.fp.get()); }

std::unique_ptr<FlacDecoder> new_decoder(const FlacAudioFile& file, bool keep_metadata,
                                         std::string& reason) {
  auto decoder = std::make_unique<FlacDecoder>(descriptor(file), file.stream_start,
                                               static_cast<std::uint64_t>(file.file_size));
  if (!decoder->start(keep_metadata, reason)) return nullptr;
  return decoder;
}

// A stream that does not state its length is decoded once to measure it.
std::optional<std::uint64_t> measure_samples(FlacDecoder& decoder, std::string& reason) {
  std::uint64_t end = 0;
  const FlacFrameHandler count = [&](const FlacFrame& frame) {
    end = frame.first + frame.count;
    return true;
  };
  for (;;) {
    const int got = decoder.decode_frame(count);
    if (got == 0) return end;
    if (got < 0) {
      reason = decoder.problem();
      return std::nullopt;
    }
  }
}

bool refuse_stream(const FlacAudioFile& file, const std::string& reason, ErrorText* error) {
  set_error_message(error, "Cannot read FLAC file %s: %s", file.path.c_str(), reason.c_str());
  return false;
}

// Fills the stream's information, length, tags and pictures. false with a reason naming the file.
bool read_stream(FlacAudioFile& file, ErrorText* error) {
  std::string reason;
  std::unique_ptr<FlacDecoder> probe = new_decoder(file, true, reason);
  if (!probe) return refuse_stream(file, reason, error);
  if (!usable_format(probe->stream_info(), file.path, error)) return false;
  file.stream_info = probe->stream_info();
  file.total_samples = file.stream_info.total_samples;
  if (file.total_samples == 0) {
    const std::optional<std::uint64_t> measured = measure_samples(*probe, reason);
    if (!measured) return refuse_stream(file, reason, error);
    file.total_samples = *measured;
  }
  file.vorbis_comment = probe->take_vorbis_comment();
  file.pictures = probe->take_pictures();
  file.has_seek_table = probe->has_seek_table();
  return true;
}

// --- The reader behind read_data ----------------------------------------------------------

bool start_reader(FlacAudioFile& file) {
  std::string reason;
  file.reader = new_decoder(file, false, reason);
  file.frame_pcm.clear();
  file.frame_pcm_offset = 0;
  file.next_sample = 0;
  file.read_from_start = file.reader != nullptr;
  if (!file.reader) g_warning("Cannot decode FLAC file %s: %s", file.path.c_str(), reason.c_str());
  return file.reader != nullptr;
}

// Replaces frame_pcm with the next frame, cut at the stated length. 1, 0 at the end, -1.
int decode_next_frame(FlacAudioFile& file) {
  const unsigned channels = file.si.channels;
  const PcmLayout layout = pcm_layout(file.stream_info.bits_per_sample);
  std::string reason;
  const FlacFrameHandler convert = [&](const FlacFrame& frame) {
    if (!flac_frame_begins_at(frame, file.next_sample, reason)) return false;
    const std::uint64_t left = file.total_samples - std::min(frame.first, file.total_samples);
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(frame.count, left));
    file.frame_pcm.resize(static_cast<std::size_t>(count) * file.si.blockAlign);
    interleave_frame(frame, count, channels, layout, file.frame_pcm.data());
    file.frame_pcm_offset = frame.first * file.si.blockAlign;
    file.next_sample = frame.first + count;
    return true;
  };
  const int got = file.reader->decode_frame(convert);
  if (got <= 0) file.broken_from = file.next_sample;
  if (got < 0) {
    g_warning("Error decoding FLAC file %s after sample %" PRIu64 ": %s at byte %" PRIu64 "; reading stops there",
              file.path.c_str(), file.next_sample,
              reason.empty() ? file.reader->problem().c_str() : reason.c_str(), file.reader->next_frame_offset());
    file.reader.reset();
  } else if (got == 0) {
    g_warning("FLAC file %s ends after sample %" PRIu64 " of %" PRIu64 ": it is truncated",
              file.path.c_str(), file.next_sample, file.total_samples);
  }
  return got;
}

bool position_reader(FlacAudioFile& file, std::uint64_t offset) {
  const std::uint64_t sample = offset / file.si.blockAlign;
  // A reader that starts over from the first sample keeps the MD5 check of a whole pass.
  if (sample == 0) return start_reader(file) && decode_next_frame(file) > 0;
  if (!file.reader && !start_reader(file)) return false;
  file.read_from_start = false;
  if (!file.reader->seek(sample)) {
    g_warning("Cannot seek to sample %" PRIu64 " in FLAC file %s: %s", sample, file.path.c_str(),
              file.reader->problem().c_str());
    return false;
  }
  file.next_sample = sample;
  return decode_next_frame(file) > 0;
}

bool reader_covers(const FlacAudioFile& file, std::uint64_t offset) {
  return file.reader && offset >= file.frame_pcm_offset &&
         offset <= file.frame_pcm_offset + file.frame_pcm.size();
}

std::size_t take_frame_pcm(const FlacAudioFile& file, std::uint64_t offset,
                           std::span<std::uint8_t> out) {
  const std::uint64_t end = file.frame_pcm_offset + file.frame_pcm.size();
  if (offset < file.frame_pcm_offset || offset >= end) return 0;
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), end - offset));
  std::memcpy(out.data(), file.frame_pcm.data() + (offset - file.frame_pcm_offset), count);
  return count;
}

// Once a reader has decoded every sample from the first one on, libFLAC can tell whether
// they are the ones that were encoded.
void check_whole_pass(FlacAudioFile& file) {
  if (!file.read_from_start || file.next_sample != file.total_samples) return;
  file.read_from_start = false;
  const bool matched = file.reader->finish();
  file.reader.reset();
  if (matched) return;
  file.md5_mismatch = true;
  g_warning("FLAC file %s fails its MD5 check: its decoded audio is not what was encoded",
            file.path.c_str());
}

OpenResult open_flac(const FormatModule& module, const std::string& path) {
  auto file = std::make_unique<FlacAudioFile>();
  ErrorText reason;
  if (!format_open_common(module, *file, path, &reason)) return OpenResult::not_this_format(reason);
  const std::optional<std::uint64_t> start =
      stream_start(descriptor(*file), static_cast<std::uint64_t>(file->file_size));
  if (!start) return OpenResult::not_this_format("No FLAC signature");
  g_debug("Detected FLAC at byte %" PRIu64, *start);
  file->stream_start = *start;
  if (!read_stream(*file, &reason)) return OpenResult::damaged(*reason);
  file->si = sample_info(file->stream_info, file->total_samples);
  // STREAMINFO states it, or decoding has just measured it.
  file->exact_length = true;
  file->details = details_text(*file);
  return OpenResult::opened(std::move(file));
}

// Reading a track from its first sample to its last has libFLAC hold the samples against
// the MD5 signature the encoder put in its STREAMINFO (where it put one).
TrackCheck md5_check(AudioFile& track) {
  if (!static_cast<FlacAudioFile&>(track).md5_mismatch) return TrackCheck::match();
  return TrackCheck::failed("its samples do not match the MD5 signature in its STREAMINFO");
}

TrackCheck verify_flac(AudioFile& source, const TrackRequest& request, const std::string& track_path) {
  return format_verify_decoded(source, request, open_flac(*source.module, track_path), 0, md5_check);
}

}  // namespace

const FormatModule* flac_module() {
  static const FormatModule module = {.name = "FLAC",
                                      .library = "libFLAC",
                                      .extension = ".flac",
                                      .open_file = open_flac,
                                      .close_file = flac_close_file,
                                      .read_data = flac_read_data,
                                      .write_range = flac_write_range,
                                      .carries_tags = true,
                                      .concurrent_writes = PARALLEL_TRACKS,
                                      .copies_frames = true,
                                      .embedded_sheet = flac_embedded_sheet,
                                      .verify_track = verify_flac};
  return &module;
}

AudioFilePtr flac_open_file(const FormatModule& module, const std::string& path, ErrorText* error) {
  return format_take_file(open_flac(module, path), error);
}

void flac_close_file(const FormatModule& /*module*/, AudioFilePtr file) {
  if (!file) return;
  auto& flac = static_cast<FlacAudioFile&>(*file);
  flac.reader.reset();
  format_close_common(flac);
}

std::int64_t flac_read_data(AudioFile& base, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  auto& file = static_cast<FlacAudioFile&>(base);
  if (offset > file.si.numBytes) return -1;
  const auto wanted = static_cast<std::size_t>(
      std::min<std::uint64_t>(buffer.size(), file.si.numBytes - offset));
  if (wanted == 0) return 0;
  // The read that goes on where decoding broke off; a read elsewhere seeks past the damage.
  if (offset / file.si.blockAlign == file.broken_from) return -1;
  if (!reader_covers(file, offset) && !position_reader(file, offset)) return -1;
  std::size_t done = take_frame_pcm(file, offset, buffer.first(wanted));
  while (done < wanted) {
    const int got = decode_next_frame(file);
    if (got < 0 && done == 0) return -1;
    if (got <= 0) break;
    done += take_frame_pcm(file, offset + done, buffer.subspan(done, wanted - done));
  }
  if (file.reader) check_whole_pass(file);
  return static_cast<std::int64_t>(done);
}

int flac_write_range(AudioFile& base, const TrackRequest& request) {
  auto& file = static_cast<FlacAudioFile&>(base);
  const std::uint64_t frame = file.si.blockAlign;
  const std::uint64_t first = std::min(request.start / frame, file.total_samples);
  const std::uint64_t stop =
      request.end == 0 ? file.total_samples : std::min(request.end / frame, file.total_samples);
  const FlacTrack track{first, std::max(first, stop)};
  const int written = request.frame_copy ? flac_copy_track(file, request, track)
                                         : flac_write_track(file, request, track);
  if (written != 0) return -1;
  if (!format_flush_track(request)) return -1;
  progress_report(request.progress, request.user_data, 1.0);
  return 0;
}
