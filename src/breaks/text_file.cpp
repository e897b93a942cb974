#include "breaks/text_file.h"

#include <glib.h>

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>

#include "breaks/text_decoding.h"
#include "breaks/time_code.h"

std::optional<std::string> read_rest_of_file(std::FILE* fp, std::uint64_t limit) {
  std::string text;
  char chunk[8192];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, fp)) > 0) {
    if (text.size() + got > limit) {
      errno = EFBIG;
      return std::nullopt;
    }
    text.append(chunk, got);
  }
  if (std::ferror(fp)) return std::nullopt;
  return text;
}

FilePtr open_for_writing(const std::string& path) { return FilePtr(std::fopen(path.c_str(), "wb")); }

int write_and_close(FilePtr fp, const std::string& path, std::string_view text) {
  const std::size_t written = std::fwrite(text.data(), 1, text.size(), fp.get());
  int error = written == text.size() ? 0 : errno;
  if (std::fclose(fp.release()) != 0 && error == 0) error = errno;
  if (error == 0) return 1;
  g_warning("Could not write %s: %s", path.c_str(), g_strerror(error));
  return 0;
}

BreakFileText break_file_read(const std::string& path, TrackBreakList& list, const BreakFileReading& reading) {
  BreakFileText file;
  FilePtr fp(std::fopen(path.c_str(), "rb"));
  if (!fp) {
    file.open_error = errno;
    return file;
  }
  track_break_list_clear(list);
  // A regular file says its size before a byte is read; a stream (a device, a pipe) is read
  // up to the limit.
  struct stat st {};
  if (fstat(fileno(fp.get()), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::uint64_t>(st.st_size) > MAX_BREAK_FILE_BYTES) {
    g_warning("Cannot read %s: its %" PRIu64 " bytes are more than any break list holds (16 MiB)",
              path.c_str(), static_cast<std::uint64_t>(st.st_size));
    file.too_large = true;
    return file;
  }
  std::optional<std::string> bytes = read_rest_of_file(fp.get(), MAX_BREAK_FILE_BYTES);
  if (!bytes && errno == EFBIG) {
    g_warning("Cannot read %s: it holds more than any break list holds (16 MiB)", path.c_str());
    file.too_large = true;
    return file;
  }
  if (!bytes) {
    file.read_error = errno;
    return file;
  }
  file.text = break_file_text(std::move(*bytes), path, reading);
  return file;
}

TrackBreak* break_file_add(TrackBreakList& list, const BreakSource& source, std::int32_t write,
                           std::uint64_t offset, std::optional<std::string_view> filename) {
  if (offset > list.length) {
    g_warning("%s, %s %d: the break at %s (block %" PRIu64 ") lies beyond the end of the recording at %s; left out",
              source.path.c_str(), source.unit, source.line, format_time_code(offset, false).c_str(), offset,
              format_time_code(list.length - 1, false).c_str());
    if (write != 0) ++list.written_tracks_left_out;
    return nullptr;
  }
  return track_break_list_add(list, write, offset, filename);
}

bool break_file_readable(const BreakFileText& file, const std::string& path) {
  if (file.open_error != 0) {
    g_warning("Cannot open %s: %s", path.c_str(), g_strerror(file.open_error));
    return false;
  }
  // A file that cannot be read (a folder, an I/O error) is no empty list.
  if (file.read_error != 0) {
    g_warning("Cannot read %s: %s", path.c_str(), g_strerror(file.read_error));
    return false;
  }
  return !file.too_large;
}

std::string break_file_text(std::string bytes, const std::string& path,
                            const BreakFileReading& reading) {
  if (reading.metadata) return text_decode_to_utf8(bytes, reading.charset, path);
  // A byte-order mark says what the text is, options or not: a UTF-16 sheet taken as bytes
  // gives no break at all, and a mark before a TXT list's first offset hides its digits.
  if (bytes.starts_with("\xEF\xBB\xBF")) return bytes.substr(3);
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) return text_decode_to_utf8(bytes, "", path);
  return bytes;
}
