#include "breaks/text_file.h"

#include <glib.h>

#include <cerrno>

#include "breaks/text_decoding.h"

std::optional<std::string> read_rest_of_file(std::FILE* fp) {
  std::string text;
  char chunk[8192];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, fp)) > 0) text.append(chunk, got);
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
  std::optional<std::string> bytes = read_rest_of_file(fp.get());
  if (!bytes) {
    file.read_error = errno;
    return file;
  }
  file.text = break_file_text(std::move(*bytes), path, reading);
  return file;
}

std::string break_file_text(std::string bytes, const std::string& path,
                            const BreakFileReading& reading) {
  if (!reading.metadata) return bytes;
  return text_decode_to_utf8(bytes, reading.charset, path);
}
