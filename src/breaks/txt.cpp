// The own TXT format: one break per line, "offset=name" for a written track and a bare
// offset for a skipped one; ";" starts a comment.
#include <glib.h>

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <string_view>

#include "breaks/txt.h"
#include "breaks/metadata.h"
#include "breaks/naming.h"
#include "breaks/printf_string.h"
#include "breaks/text_file.h"
#include "project.h"

namespace {

// Lines live in a buffer of 1024 bytes with its terminating NUL.
constexpr std::size_t MAX_LINE_CHARS = 1023;

std::uint64_t offset_of(std::string_view text) {
  // atol's rules, with a defined result on overflow; negative values wrap as the offset type.
  return static_cast<std::uint64_t>(std::strtol(std::string(text).c_str(), nullptr, 10));
}

void add_line(std::string_view line, TrackBreakList& list, const BreakFileReading& reading) {
  // A line is a C text: anything after a NUL byte is not part of it.
  line = line.substr(0, line.find('\0'));
  if (line.empty() || line.front() == ';') return;
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) {
    track_break_list_add(list, 0, offset_of(line), std::nullopt);
    return;
  }
  std::string_view name = line.substr(equals + 1);
  name.remove_prefix(std::min(name.find_first_not_of(' '), name.size()));
  const std::size_t before = list.breaks.size();
  TrackBreak* brk = track_break_list_add(list, 1, offset_of(line.substr(0, equals)), name);
  // The one thing a TXT list tells about a track besides its place is the name it chose;
  // a break the list already had keeps its own.
  if (reading.metadata && list.breaks.size() != before) {
    brk->metadata.title = metadata_clean_text(name);
  }
}

// 1 when every line was taken, 0 when a line is longer than the buffer holds.
int parse_txt(std::string_view text, const std::string& path, TrackBreakList& list,
              const BreakFileReading& reading) {
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    // A list saved with CRLF line ends must not hand its carriage returns on into names.
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.size() > MAX_LINE_CHARS) {
      g_warning("Error parsing file %s", path.c_str());
      return 0;
    }
    // Editors often leave out the final newline; that last line still counts.
    add_line(line, list, reading);
    if (newline == std::string_view::npos) break;
    text.remove_prefix(newline + 1);
  }
  return 1;
}

struct TxtWriter {
  std::string text;
};

void write_txt_line(std::int32_t /*index*/, std::int32_t write, std::uint64_t start,
                    std::uint64_t /*end*/, const std::string& name, void* user_data) {
  auto& writer = *static_cast<TxtWriter*>(user_data);
  writer.text += write != 0 ? printf_string("%" PRIu64 "=%s\n", start, name.c_str())
                            : printf_string("%" PRIu64 "\n", start);
}

}  // namespace

int track_break_list_read_txt(const std::string& path, TrackBreakList& list,
                              const BreakFileReading& reading) {
  const BreakFileText file = break_file_read(path, list, reading);
  if (file.open_error != 0) {
    g_warning("Cannot open %s: %s", path.c_str(), g_strerror(file.open_error));
    return 0;
  }
  // A file that cannot be read (a folder, an I/O error) is no empty list.
  if (file.read_error != 0) {
    g_warning("Cannot read %s: %s", path.c_str(), g_strerror(file.read_error));
    return 0;
  }
  return parse_txt(file.text, path, list, reading);
}

std::string track_break_list_txt_text(const std::string& audio_filename, const TrackBreakList& list) {
  TxtWriter writer;
  writer.text = printf_string("\n; Created by trackfold %s\n; %s/2006/trackfold/tb-file-format.txt\n\n",
                              TFOLD_VERSION, TFOLD_WEB_HOST);
  track_break_list_foreach(list, write_txt_line, &writer);
  writer.text += printf_string("\n; Total breaks: %d\n; Original file: %s\n\n",
                               static_cast<int>(list.breaks.size()), audio_filename.c_str());
  return std::move(writer.text);
}

int track_break_list_write_txt(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list) {
  FilePtr fp = open_for_writing(path);
  if (!fp) {
    g_warning("Could not open %s for writing: %s", path.c_str(), g_strerror(errno));
    return 0;
  }
  return write_and_close(std::move(fp), path, track_break_list_txt_text(audio_filename, list));
}
