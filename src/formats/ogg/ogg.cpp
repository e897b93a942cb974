#include "formats/ogg/ogg.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <limits>
#include <memory>
#include <optional>

#include "io/file_copy.h"
#include "formats/ogg/ogg_cutter.h"
#include "formats/ogg/ogg_index.h"
#include "formats/tags/vorbis_comments.h"
#include "formats/track_check.h"

namespace {

constexpr int BYTES_PER_SAMPLE = 2;
constexpr int LITTLE_ENDIAN_OUTPUT = 0;
constexpr int SIGNED_OUTPUT = 1;
constexpr std::uint64_t UNKNOWN_POSITION = std::numeric_limits<std::uint64_t>::max();

// Owns libvorbisfile's decoder state. It holds pointers into itself, so it never moves.
class VorbisFile {
 public:
  VorbisFile() = default;
  VorbisFile(const VorbisFile&) = delete;
  VorbisFile& operator=(const VorbisFile&) = delete;
  ~VorbisFile() { ov_clear(&vf_); }

  OggVorbis_File* get() { return &vf_; }

 private:
  OggVorbis_File vf_{};
};

// libvorbisfile hands out whole sample frames only; a read that begins or ends inside a
// frame decodes the whole frame and keeps the bytes it did not deliver here.
struct FrameRest {
  std::array<std::uint8_t, 255 * BYTES_PER_SAMPLE> bytes{};
  std::size_t begin = 0;
  std::size_t end = 0;

  std::size_t size() const { return end - begin; }
  void clear() { begin = end = 0; }
};

struct OggAudioFile final : AudioFile {
  VorbisFile vorbis_file;
  // PCM byte offset of the next byte delivered without a seek: the first byte of the frame
  // rest when there is one, else the decoder's position.
  std::uint64_t decoded_pos = 0;
  FrameRest rest;
  // Built by the first cut and kept for the following ones; a failure is kept as well, so
  // that every track tells it without reading the file again.
  std::optional<OggPacketIndex> packet_index;
  ErrorText index_failure;
};

// One ov_read. A hole in the data is a notice that some audio is missing, not the end of
// the stream: decoding goes on behind it.
long decode(OggAudioFile& file, std::span<std::uint8_t> out) {
  const int length = static_cast<int>(std::min<std::size_t>(out.size(), INT_MAX));
  for (;;) {
    const long got = ov_read(file.vorbis_file.get(), reinterpret_cast<char*>(out.data()), length,
                             LITTLE_ENDIAN_OUTPUT, BYTES_PER_SAMPLE, SIGNED_OUTPUT, nullptr);
    if (got != OV_HOLE) return got;
  }
}

// Decodes the next whole frame into the frame rest. ov_read's result.
long decode_frame_rest(OggAudioFile& file) {
  file.rest.clear();
  const long got = decode(file, std::span(file.rest.bytes).first(file.si.blockAlign));
  if (got > 0) file.rest.end = static_cast<std::size_t>(got);
  return got;
}

std::size_t take_frame_rest(OggAudioFile& file, std::span<std::uint8_t> out) {
  const std::size_t count = std::min(out.size(), file.rest.size());
  std::copy_n(file.rest.bytes.begin() + static_cast<std::ptrdiff_t>(file.rest.begin), count,
              out.begin());
  file.rest.begin += count;
  file.decoded_pos += count;
  return count;
}

bool seek_to(OggAudioFile& file, std::uint64_t offset) {
  file.rest.clear();
  file.decoded_pos = UNKNOWN_POSITION;
  const std::uint64_t frame = offset / file.si.blockAlign;
  if (const int code = ov_pcm_seek(file.vorbis_file.get(), static_cast<ogg_int64_t>(frame)); code != 0) {
    g_warning("Cannot seek to sample %" PRIu64 " in Ogg Vorbis file %s: ov_pcm_seek() returned %d", frame,
              file.path.c_str(), code);
    return false;
  }
  const std::size_t into_frame = offset % file.si.blockAlign;
  if (into_frame == 0) {
    file.decoded_pos = offset;
    return true;
  }
  const long got = decode_frame_rest(file);
  if (got < 0) g_warning("Error in ov_read(): %ld", got);
  if (got <= 0) return false;
  file.rest.begin = std::min(into_frame, file.rest.end);
  file.decoded_pos = offset;
  return true;
}

// Decodes into out until it is full or the stream ends. Bytes delivered, or -1 when a
// decoding error came before any.
std::int64_t decode_into(OggAudioFile& file, std::span<std::uint8_t> out) {
  const std::size_t frame = file.si.blockAlign;
  std::size_t done = take_frame_rest(file, out);
  while (done < out.size()) {
    const std::size_t wanted = out.size() - done;
    long got = 0;
    if (wanted < frame) {
      got = decode_frame_rest(file);
      if (got > 0) done += take_frame_rest(file, out.subspan(done));
    } else {
      got = decode(file, out.subspan(done, std::min<std::size_t>(wanted, INT_MAX) / frame * frame));
      if (got > 0) {
        done += static_cast<std::size_t>(got);
        file.decoded_pos += static_cast<std::uint64_t>(got);
      }
    }
    if (got == 0) break;
    if (got < 0) {
      g_warning("Error in ov_read(): %ld", got);
      return done > 0 ? static_cast<std::int64_t>(done) : -1;
    }
  }
  return static_cast<std::int64_t>(done);
}

// A chained file is one stream to the rest of the program only while its format holds.
bool links_share_format(OggVorbis_File* vf, const std::string& path, ErrorText* error) {
  const vorbis_info* first = ov_info(vf, 0);
  const long links = ov_streams(vf);
  for (long link = 1; link < links; ++link) {
    const vorbis_info* info = ov_info(vf, link);
    if (info->rate == first->rate && info->channels == first->channels) continue;
    const std::unique_ptr<gchar, decltype(&g_free)> reason(
        g_strdup_printf("Chained Ogg Vorbis file %s changes format: link 1 has %ld Hz / %d ch, "
                        "link %ld has %ld Hz / %d ch",
                        path.c_str(), first->rate, first->channels, link + 1, info->rate,
                        info->channels),
        g_free);
    set_error_message(error, "%s", reason.get());
    return false;
  }
  return true;
}

std::string details_text(OggVorbis_File* vf) {
  const vorbis_comment* comment = ov_comment(vf, -1);
  const long bitrate = ov_bitrate(vf, -1);
  const long kbps = (bitrate == OV_EINVAL || bitrate == OV_FALSE) ? -1 : bitrate / 1000;
  const std::unique_ptr<gchar, decltype(&g_free)> text(
      g_strdup_printf("%s, serial %08x, %ld kbps",
                      comment != nullptr && comment->vendor != nullptr ? comment->vendor : "",
                      static_cast<unsigned>(ov_serialnumber(vf, -1)), kbps),
      g_free);
  return text.get();
}

SampleInfo sample_info(const vorbis_info& info, std::uint64_t frames) {
  return format_sample_info(static_cast<std::uint32_t>(info.rate), static_cast<std::uint32_t>(info.channels),
                            8 * BYTES_PER_SAMPLE, frames);
}

bool usable_stream(OggVorbis_File* vf, const std::string& path, ErrorText* error) {
  const vorbis_info* info = ov_info(vf, -1);
  if (ov_pcm_total(vf, -1) < 0) {
    set_error_message(error, "Cannot tell the length of Ogg Vorbis file %s", path.c_str());
    return false;
  }
  const auto bytes_per_sec = static_cast<std::uint64_t>(info->rate) * info->channels * BYTES_PER_SAMPLE;
  if (info->rate <= 0 || info->channels <= 0 || bytes_per_sec > UINT32_MAX) {
    set_error_message(error, "Unsupported Ogg Vorbis format in %s: %ld Hz, %d channels",
                      path.c_str(), info->rate, info->channels);
    return false;
  }
  return true;
}

// The index of the file, built on first use; nullptr after a warning when it cannot be.
const OggPacketIndex* packet_index(OggAudioFile& file) {
  if (!file.packet_index && !file.index_failure) {
    file.packet_index = ogg_index_packets(fileno(file.fp.get()), &file.index_failure);
    if (!file.packet_index && !file.index_failure) file.index_failure = "unreadable";
    // libvorbisfile counts the length from the granule positions alone, the index follows the
    // decoder packet by packet: they differ only where a stream's positions contradict its
    // packets, and the cuts go by what the decoder delivers.
    if (file.packet_index && file.si.blockAlign != 0 &&
        static_cast<std::uint64_t>(file.packet_index->decoded_length) !=
            file.si.numBytes / file.si.blockAlign) {
      g_debug("%s decodes to %" PRId64 " samples, its granule positions say %" PRIu64,
              file.path.c_str(), file.packet_index->decoded_length,
              file.si.numBytes / file.si.blockAlign);
    }
  }
  if (file.packet_index) return &*file.packet_index;
  g_warning("Cannot cut %s: %s", file.path.c_str(), file.index_failure->c_str());
  return nullptr;
}

OpenResult open_ogg(const FormatModule& module, const std::string& path) {
  auto file = std::make_unique<OggAudioFile>();
  ErrorText reason;
  if (!format_open_common(module, *file, path, &reason)) return OpenResult::not_this_format(reason);
  g_debug("Trying as Ogg Vorbis...");
  OggVorbis_File* vf = file->vorbis_file.get();
  if (const int code = ov_fopen(file->path.c_str(), vf); code != 0) {
    set_error_message(&reason, "ov_fopen() returned %d, probably not an Ogg file", code);
    return OpenResult::not_this_format(reason);
  }
  g_debug("Detected Ogg Vorbis");
  const vorbis_info* info = ov_info(vf, -1);
  const ogg_int64_t frames = ov_pcm_total(vf, -1);
  g_debug("Ogg Vorbis info: version=%d, channels=%d, rate=%ld, samples=%ld", info->version,
          info->channels, info->rate, static_cast<long>(frames));
  if (!usable_stream(vf, file->path, &reason)) return OpenResult::not_this_format(reason);
  if (!links_share_format(vf, file->path, &reason)) return OpenResult::damaged(*reason);
  file->details = details_text(vf);
  file->si = sample_info(*info, static_cast<std::uint64_t>(frames));
  // The last granule position counts the samples; a stream whose end cannot be sought
  // was refused above.
  file->exact_length = true;
  return OpenResult::opened(std::move(file));
}

}  // namespace

namespace {

// Rippers that write Ogg Vorbis carry the sheet as a CUESHEET comment of the first stream.
std::optional<EmbeddedSheet> ogg_embedded_sheet(AudioFile& base) {
  auto& file = static_cast<OggAudioFile&>(base);
  const vorbis_comment* comments = ov_comment(file.vorbis_file.get(), 0);
  if (comments == nullptr) return std::nullopt;
  std::vector<std::string_view> texts;
  for (int i = 0; i < comments->comments; ++i) {
    texts.emplace_back(comments->user_comments[i], static_cast<std::size_t>(comments->comment_lengths[i]));
  }
  return vorbis_comments_sheet(texts);
}

TrackCheck verify_ogg(AudioFile& source, const TrackRequest& request, const std::string& track_path) {
  return format_verify_decoded(source, request, open_ogg(*source.module, track_path));
}

}  // namespace

const FormatModule* ogg_module() {
  static const FormatModule module = {.name = "Ogg Vorbis",
                                      .library = "libvorbisfile",
                                      .extension = ".ogg",
                                      .open_file = open_ogg,
                                      .close_file = ogg_close_file,
                                      .read_data = ogg_read_data,
                                      .write_range = ogg_write_range,
                                      .carries_tags = true,
                                      .concurrent_writes = 1,
                                      .embedded_sheet = ogg_embedded_sheet,
                                      .verify_track = verify_ogg};
  return &module;
}

AudioFilePtr ogg_open_file(const FormatModule& module, const std::string& path, ErrorText* error) {
  return format_take_file(open_ogg(module, path), error);
}

void ogg_close_file(const FormatModule& /*module*/, AudioFilePtr file) {
  if (file) format_close_common(*file);
}

std::int64_t ogg_read_data(AudioFile& base, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  auto& file = static_cast<OggAudioFile&>(base);
  if (offset > file.si.numBytes) return -1;
  if (offset != file.decoded_pos && !seek_to(file, offset)) return -1;
  return decode_into(file, buffer);
}

int ogg_write_range(AudioFile& base, const TrackRequest& request) {
  auto& file = static_cast<OggAudioFile&>(base);
  const OggPacketIndex* index = packet_index(file);
  if (index == nullptr) return -1;
  const auto first = static_cast<std::int64_t>(request.start / file.si.blockAlign);
  std::int64_t stop = request.end == 0 ? index->decoded_length
                                       : static_cast<std::int64_t>(request.end / file.si.blockAlign);
  // Where the end is lost, the granule positions may still tell where the last track ends.
  if (request.end == 0 && ogg_index_lost_end(*index) != nullptr) {
    stop = std::max(stop, static_cast<std::int64_t>(file.si.numBytes / file.si.blockAlign));
  }

  progress_report(request.progress, request.user_data, 0.0);
  if (ogg_cut(*index, file, request, {first, stop}) != 0) return -1;
  if (!format_flush_track(request)) return -1;
  progress_report(request.progress, request.user_data, 1.0);
  return 0;
}
