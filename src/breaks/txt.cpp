// The own TXT format: one break per line, "offset=name" for a written track and a bare
// offset for a skipped one; ";" starts a comment.
#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <string_view>
#include <unordered_map>

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

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Whether text is a block count as lists are written: digits, blanks around them allowed.
bool is_block_count(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// text as a warning may show it: control bytes written as \xNN, so that a list cannot move
// the terminal's cursor or ring its bell.
std::string shown(std::string_view text) {
  std::string result;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    result += byte >= 0x20 && byte != 0x7F ? std::string(1, c) : printf_string("\\x%02X", byte);
  }
  return result;
}

class TxtParser {
 public:
  TxtParser(const std::string& path, TrackBreakList& list, const BreakFileReading& reading)
      : path_(path), list_(list), reading_(reading) {}

  // 1 when every line was taken, 0 when a line is longer than the buffer holds.
  int parse(std::string_view text) {
    int number = 0;
    while (!text.empty()) {
      const std::size_t newline = text.find('\n');
      std::string_view line = text.substr(0, newline);
      ++number;
      // A list saved with CRLF line ends must not hand its carriage returns on into names.
      if (line.ends_with('\r')) line.remove_suffix(1);
      if (line.size() > MAX_LINE_CHARS) {
        g_warning("Error parsing file %s", path_.c_str());
        return 0;
      }
      // Editors often leave out the final newline; that last line still counts.
      add_line(line, number);
      if (newline == std::string_view::npos) break;
      text.remove_prefix(newline + 1);
    }
    report_the_rest();
    return 1;
  }

 private:
  void add_line(std::string_view line, int number) {
    // A line is a C text: anything after a NUL byte is not part of it.
    line = line.substr(0, line.find('\0'));
    if (line.empty() || line.front() == ';') return;
    const std::size_t equals = line.find('=');
    const BreakSource source{path_, number};
    if (equals == std::string_view::npos) {
      add(source, 0, read_offset(line, source), std::nullopt);
      return;
    }
    std::string_view name = line.substr(equals + 1);
    name.remove_prefix(std::min(name.find_first_not_of(' '), name.size()));
    const std::size_t before = list_.breaks.size();
    TrackBreak* brk = add(source, 1, read_offset(line.substr(0, equals), source), name);
    // The one thing a TXT list tells about a track besides its place is the name it chose;
    // a break the list already had keeps its own.
    if (reading_.metadata && brk != nullptr && list_.breaks.size() != before) {
      brk->metadata.title = metadata_clean_text(name);
    }
  }

  // Lists in the wild hold times and other numbers where a block count belongs; they are
  // read as they always were, but the user learns what was made of them.
  std::uint64_t read_offset(std::string_view text, const BreakSource& source) {
    const std::uint64_t offset = offset_of(text);
    if (!is_block_count(text) && ++odd_offsets_ <= SHOWN_PER_KIND) {
      g_warning("%s, line %d: '%s' is no block count; read as %" PRIu64, path_.c_str(), source.line,
                shown(text).c_str(), offset);
    }
    return offset;
  }

  TrackBreak* add(const BreakSource& source, std::int32_t write, std::uint64_t offset,
                  std::optional<std::string_view> name) {
    const std::size_t before = list_.breaks.size();
    TrackBreak* brk = break_file_add(list_, source, write, offset, name);
    if (brk == nullptr) return nullptr;
    if (list_.breaks.size() == before) {
      if (++repeats_ > SHOWN_PER_KIND) return brk;
      g_warning("%s, lines %d and %d: two breaks at block %" PRIu64 "; the second is ignored",
                path_.c_str(), line_of_[offset], source.line, offset);
    } else {
      line_of_[offset] = source.line;
    }
    return brk;
  }

  // A file that is no list at all (a text given by mistake) would otherwise say so for every
  // one of its lines: the first few of each kind tell the user what is wrong.
  void report_the_rest() const {
    if (odd_offsets_ > SHOWN_PER_KIND) {
      g_warning("%s: %d more lines hold no block count", path_.c_str(), odd_offsets_ - SHOWN_PER_KIND);
    }
    if (repeats_ > SHOWN_PER_KIND) {
      g_warning("%s: %d more breaks repeat an earlier one's block; ignored", path_.c_str(),
                repeats_ - SHOWN_PER_KIND);
    }
  }

  static constexpr int SHOWN_PER_KIND = 10;

  const std::string& path_;
  TrackBreakList& list_;
  const BreakFileReading& reading_;
  std::unordered_map<std::uint64_t, int> line_of_;  // the line that gave each break
  int odd_offsets_ = 0;
  int repeats_ = 0;
};

}  // namespace

int txt_parse(std::string_view text, const std::string& path, TrackBreakList& list,
              const BreakFileReading& reading) {
  return TxtParser(path, list, reading).parse(text);
}

namespace {

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
  if (!break_file_readable(file, path)) return 0;
  return txt_parse(file.text, path, list, reading);
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
