#include "formats/cdda/cdda.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "formats/track_check.h"
#include "io/file_copy.h"
#include "io/read_at.h"

namespace {

constexpr SampleInfo CD_FORMAT = {2, 44100, 176400, 4, 16, 0, 2352};

// Big-endian to little-endian: swap the bytes of every sample in the complete stereo frames.
// A trailing partial frame stays as read. Eight bytes at a time: every byte of a recording
// passes through here, and a byte-pair loop costs more than the disk in unoptimised builds.
void swap_complete_frames(std::span<std::uint8_t> bytes) {
  constexpr std::uint64_t EVEN_BYTES = 0x00FF00FF00FF00FFu;
  const std::size_t swapped = bytes.size() / 4 * 4;
  std::size_t i = 0;
  for (; i + 8 <= swapped; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    word = (word & EVEN_BYTES) << 8 | (word >> 8 & EVEN_BYTES);
    std::memcpy(bytes.data() + i, &word, 8);
  }
  for (; i < swapped; i += 2) std::swap(bytes[i], bytes[i + 1]);
}

// Raw audio is told by its name alone: open_cdda asks for it, a track read back has a
// temporary one.
OpenResult open_raw(const FormatModule& module, const std::string& path) {
  ErrorText reason;
  auto file = std::make_unique<CddaAudioFile>();
  if (!format_open_common(module, *file, path, &reason)) return OpenResult::not_this_format(reason);
  struct stat st {};
  if (stat(file->path.c_str(), &st) != 0) {
    set_error_message(&reason, "Error stat()ing %s", file->path.c_str());
    return OpenResult::not_this_format(reason);
  }
  file->raw_size = static_cast<std::uint64_t>(st.st_size);
  file->si = CD_FORMAT;
  file->si.numBytes = file->raw_size;
  // Every byte is audio.
  file->exact_length = true;
  return OpenResult::opened(std::move(file));
}

OpenResult open_cdda(const FormatModule& module, const std::string& path) {
  if (!format_has_extension(module, path)) {
    ErrorText reason;
    set_error_message(&reason, "Extension is not %s", module.extension);
    return OpenResult::not_this_format(reason);
  }
  return open_raw(module, path);
}

TrackCheck verify_cdda(AudioFile& source, const TrackRequest& request, const std::string& track_path) {
  return format_verify_decoded(source, request, open_raw(*source.module, track_path));
}

}  // namespace

const FormatModule* cdda_module() {
  static const FormatModule module = {.name = "CD Digital Audio (Big-Endian)",
                                      .library = "built-in",
                                      .extension = ".cdda.raw",
                                      .open_file = open_cdda,
                                      .close_file = cdda_close_file,
                                      .read_data = cdda_read_data,
                                      .write_range = cdda_write_range,
                                      .carries_tags = false,
                                      .concurrent_writes = 1,
                                      .verify_track = verify_cdda};
  return &module;
}

AudioFilePtr cdda_open_file(const FormatModule& module, const std::string& path, ErrorText* error) {
  return format_take_file(open_cdda(module, path), error);
}

void cdda_close_file(const FormatModule& /*module*/, AudioFilePtr file) {
  if (file) format_close_common(*file);
}

std::int64_t cdda_read_data(AudioFile& base, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  auto& file = static_cast<CddaAudioFile&>(base);
  if (offset > file.raw_size) return -1;
  const std::int64_t got = read_at(fileno(file.fp.get()), buffer, offset);
  if (got < 0) {
    g_warning("Error reading %s: %s at byte %" PRIu64 "; reading stops there", file.path.c_str(), g_strerror(errno),
              offset);
  }
  if (got > 0) swap_complete_frames(buffer.first(static_cast<std::size_t>(got)));
  return got;
}

int cdda_write_range(AudioFile& base, const TrackRequest& request) {
  auto& file = static_cast<CddaAudioFile&>(base);
  const std::uint64_t start = request.start;
  if (start > file.raw_size) return -1;
  const int source_fd = fileno(file.fp.get());
  std::uint64_t end = request.end;
  // The last track runs to wherever the file ends now.
  struct stat st {};
  if (end == 0 && fstat(source_fd, &st) != 0) {
    g_warning("Error reading %s: %s", file.path.c_str(), g_strerror(errno));
    return -1;
  }
  if (end == 0) end = static_cast<std::uint64_t>(st.st_size);
  const std::uint64_t length = end > start ? end - start : 0;

  progress_report(request.progress, request.user_data, 0.0);
  const CopyResult copy =
      copy_bytes(source_fd, start, length, request.out, {request.progress, request.user_data, 0, length});
  // A read that failed is no end of the source: the track would pass for complete.
  if (!copy_succeeded(copy, file.path, request.path)) return -1;
  if (!format_flush_track(request)) return -1;
  progress_report(request.progress, request.user_data, 1.0);
  return 0;
}
