#include "formats/cdda.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace {

constexpr SampleInfo CD_FORMAT = {2, 44100, 176400, 4, 16, 0, 2352};
// Positions are counted in CD frames, but I/O goes in pieces of many frames for speed.
constexpr std::size_t COPY_BUFFER_SIZE = 2352 * 446;

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

void report(WriteProgressFunc progress, void* user_data, double fraction) {
  if (progress != nullptr) progress(user_data, fraction);
}

std::optional<std::uint64_t> file_length(std::FILE* fp) {
  if (fseeko(fp, 0, SEEK_END) != 0) return std::nullopt;
  const off_t position = ftello(fp);
  if (position < 0) return std::nullopt;
  return static_cast<std::uint64_t>(position);
}

// Copies from the input's current position until end or the end of the file. 0 or -1.
int copy_bytes(CddaAudioFile& file, std::FILE* out, const std::string& out_path,
               std::uint64_t start, std::uint64_t end, WriteProgressFunc progress,
               void* user_data) {
  std::vector<std::uint8_t> buffer(COPY_BUFFER_SIZE);
  std::uint64_t position = start;
  while (position < end) {
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - position));
    const std::size_t got = std::fread(buffer.data(), 1, wanted, file.fp.get());
    if (got == 0) break;
    if (std::fwrite(buffer.data(), 1, got, out) != got) {
      g_warning("Error writing to file %s", out_path.c_str());
      return -1;
    }
    position += got;
    report(progress, user_data,
           static_cast<double>(position - start) / static_cast<double>(end - start));
  }
  // A read that failed is no end of the source: the track would pass for complete.
  if (std::ferror(file.fp.get())) {
    g_warning("Error reading %s: %s", file.path.c_str(), g_strerror(errno));
    return -1;
  }
  return 0;
}

}  // namespace

const FormatModule* cdda_module() {
  static const FormatModule module = {"CD Digital Audio (Big-Endian)",
                                      "built-in",
                                      ".cdda.raw",
                                      cdda_open_file,
                                      cdda_close_file,
                                      cdda_read_data,
                                      cdda_write_range};
  return &module;
}

AudioFilePtr cdda_open_file(const FormatModule& module, const std::string& path, ErrorText* error) {
  if (!format_has_extension(module, path)) {
    set_error_message(error, "Extension is not %s", module.extension);
    return nullptr;
  }
  auto file = std::make_unique<CddaAudioFile>();
  if (!format_open_common(module, *file, path, error)) return nullptr;
  struct stat st {};
  if (stat(file->path.c_str(), &st) != 0) {
    set_error_message(error, "Error stat()ing %s", file->path.c_str());
    format_close_common(*file);
    return nullptr;
  }
  file->raw_size = static_cast<std::uint64_t>(st.st_size);
  file->si = CD_FORMAT;
  file->si.numBytes = file->raw_size;
  // Every byte is audio.
  file->exact_length = true;
  return file;
}

void cdda_close_file(const FormatModule& /*module*/, AudioFilePtr file) {
  if (file) format_close_common(*file);
}

std::int64_t cdda_read_data(AudioFile& base, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  auto& file = static_cast<CddaAudioFile&>(base);
  if (offset > file.raw_size) return -1;
  if (fseeko(file.fp.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return -1;
  const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file.fp.get());
  swap_complete_frames(buffer.first(got));
  return static_cast<std::int64_t>(got);
}

int cdda_write_range(AudioFile& base, const TrackRequest& request) {
  auto& file = static_cast<CddaAudioFile&>(base);
  const std::uint64_t start = request.start;
  std::uint64_t end = request.end;
  if (end == 0) {
    const std::optional<std::uint64_t> length = file_length(file.fp.get());
    if (!length) return -1;
    end = *length;
  }
  if (start > file.raw_size) return -1;
  if (fseeko(file.fp.get(), static_cast<off_t>(start), SEEK_SET) != 0) return -1;

  const std::string out_path(request.path);
  report(request.progress, request.user_data, 0.0);
  if (copy_bytes(file, request.out, out_path, start, end, request.progress, request.user_data) != 0) {
    return -1;
  }
  if (std::fflush(request.out) != 0) {
    g_warning("Error writing to file %s", out_path.c_str());
    return -1;
  }
  report(request.progress, request.user_data, 1.0);
  return 0;
}
