// CUE sheets: one FILE, then TRACK entries whose INDEX 01 marks where each audio track
// begins. Sheets as ripping software writes them are read; the writer produces the plainest
// form: a FILE line, then TRACK and INDEX 01 lines without indentation.
#include <glib.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

#include "breaks/cue.h"
#include "breaks/metadata.h"
#include "breaks/naming.h"
#include "breaks/printf_string.h"
#include "breaks/text_file.h"
#include "breaks/time_code.h"

namespace {

struct CueLine {
  int number = 0;  // 1-based line number, for messages
  std::string keyword;
  std::vector<std::string> args;
  std::string rest;  // the line after its keyword, as written
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string upper(std::string_view word) {
  std::string result(word);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

// Where the word at i ends: behind its closing quote, or at the first blank.
std::size_t word_end(std::string_view line, std::size_t i) {
  if (line[i] == '"') {
    const std::size_t quote = line.find('"', i + 1);
    return quote == std::string_view::npos ? line.size() : quote + 1;
  }
  while (i < line.size() && !is_blank(line[i])) ++i;
  return i;
}

std::string_view after_first_word(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  return i < line.size() ? line.substr(word_end(line, i)) : std::string_view();
}

// The value of TITLE, PERFORMER and the like: a quoted text, in which \" and \\ stand for
// a quote and a backslash, or else the rest of the line, which ripping software writes
// unquoted for one word and sometimes for more.
std::string cue_value(std::string_view rest) {
  rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
  if (rest.empty() || rest.front() != '"') return std::string(rest);
  std::string value;
  for (std::size_t i = 1; i < rest.size() && rest[i] != '"'; ++i) {
    if (rest[i] == '\\' && i + 1 < rest.size() && (rest[i + 1] == '"' || rest[i + 1] == '\\')) ++i;
    value += rest[i];
  }
  return value;
}

// Words separated by blanks; a quoted value is one word without its quotes.
std::vector<std::string> split_words(std::string_view line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (is_blank(line[i])) {
      ++i;
      continue;
    }
    const std::size_t end = word_end(line, i);
    if (line[i] == '"') {
      // An unclosed quote runs to the end of the line.
      const bool closed = end - i >= 2 && line[end - 1] == '"';
      words.emplace_back(line.substr(i + 1, end - i - (closed ? 2 : 1)));
    } else {
      words.emplace_back(line.substr(i, end - i));
    }
    i = end;
  }
  return words;
}

// The sheet's lines that hold a word, one at a time: a sheet's size is bounded, but the
// words of all its lines at once would take many times its bytes. Lines end in LF, CRLF or
// CR; a UTF-8 byte-order mark before the first line is dropped.
class CueLines {
 public:
  explicit CueLines(std::string_view text) : text_(text) {
    if (text_.starts_with("\xEF\xBB\xBF")) text_.remove_prefix(3);
  }

  std::optional<CueLine> next() {
    while (!text_.empty()) {
      const std::size_t end = text_.find_first_of("\r\n");
      const std::string_view content = text_.substr(0, end);
      ++number_;
      skip_line(end);
      std::vector<std::string> words = split_words(content);
      if (words.empty()) continue;
      CueLine line;
      line.number = number_;
      line.keyword = upper(words.front());
      line.args.assign(words.begin() + 1, words.end());
      line.rest = after_first_word(content);
      return line;
    }
    return std::nullopt;
  }

  int last_number() const { return number_; }

 private:
  void skip_line(std::size_t end) {
    if (end == std::string_view::npos) {
      text_ = {};
      return;
    }
    const bool crlf = text_[end] == '\r' && end + 1 < text_.size() && text_[end + 1] == '\n';
    text_.remove_prefix(end + (crlf ? 2 : 1));
  }

  std::string_view text_;
  int number_ = 0;
};

bool is_cue_sheet(std::string_view text) {
  CueLines lines(text);
  while (std::optional<CueLine> line = lines.next()) {
    if (line->keyword == "FILE" || line->keyword == "TRACK" || line->keyword == "INDEX") return true;
  }
  return false;
}

class CueParser {
 public:
  CueParser(const std::string& path, TrackBreakList& list, const BreakFileReading& reading)
      : path_(path), list_(list), reading_(reading) {}

  ReadOutcome parse(std::string_view text) {
    CueLines lines(text);
    int last_word_line = 0;
    while (std::optional<CueLine> line = lines.next()) {
      if (!take(*line)) return ReadOutcome::Refused;
      last_word_line = line->number;
    }
    return finish_track(last_word_line) ? ReadOutcome::Read : ReadOutcome::Refused;
  }

 private:
  bool refuse(int line_number, const char* reason) {
    g_warning("Cannot use cue sheet %s, line %d: %s", path_.c_str(), line_number, reason);
    return false;
  }

  bool take(const CueLine& line) {
    if (line.keyword == "FILE") return take_file(line);
    if (line.keyword == "TRACK") return take_track(line);
    if (line.keyword == "INDEX") return take_index(line);
    // REM, TITLE, PERFORMER, FLAGS, ISRC, PREGAP, POSTGAP and the rest say nothing about
    // where a track starts in the recording.
    if (reading_.metadata) take_metadata(line);
    return true;
  }

  // Before the first TRACK a line describes the whole recording, after it the track.
  void take_metadata(const CueLine& line) {
    if (line.keyword == "TITLE") {
      store(in_track_ ? track_metadata_.title : list_.album.title, line.rest);
    } else if (line.keyword == "PERFORMER") {
      store(in_track_ ? track_metadata_.performer : list_.album.performer, line.rest);
    } else if (line.keyword == "ISRC" && in_track_) {
      store(track_metadata_.isrc, line.rest);
    } else if (line.keyword == "REM" && !in_track_ && !line.args.empty()) {
      const std::string field = upper(line.args.front());
      if (field == "DATE") store(list_.album.date, after_first_word(line.rest));
      if (field == "GENRE") store(list_.album.genre, after_first_word(line.rest));
    }
  }

  static void store(std::string& field, std::string_view rest) {
    field = metadata_clean_text(cue_value(rest));
  }

  bool take_file(const CueLine& line) {
    if (line.args.empty()) return refuse(line.number, "FILE without a file name");
    // Breaks are positions in one recording; a second file's positions could only be
    // mapped onto it with the first file's length, which the sheet does not give.
    if (++files_ > 1) return refuse(line.number, "more than one FILE");
    return true;
  }

  bool take_track(const CueLine& line) {
    if (files_ == 0) return refuse(line.number, "TRACK before FILE");
    if (line.args.size() < 2 || !time_code_is_digits(line.args[0])) {
      return refuse(line.number, "TRACK needs a number and a type");
    }
    if (!finish_track(line.number)) return false;
    track_metadata_ = TrackMetadata{};
    const long number = std::strtol(line.args[0].c_str(), nullptr, 10);
    if (in_track_ && number <= track_number_) {
      return refuse(line.number, "track numbers must increase");
    }
    in_track_ = true;
    track_number_ = number;
    audio_ = upper(line.args[1]) == "AUDIO";
    has_start_ = false;
    return true;
  }

  bool take_index(const CueLine& line) {
    if (!in_track_) return refuse(line.number, "INDEX outside a TRACK");
    if (line.args.size() < 2 || !time_code_is_digits(line.args[0])) {
      return refuse(line.number, "INDEX needs a number and a time");
    }
    if (!time_code_is_well_formed(line.args[1])) return refuse(line.number, "malformed INDEX time");
    // INDEX 00 is the pregap, which stays with the track before; INDEX 02 and up are
    // points inside the track.
    if (std::strtol(line.args[0].c_str(), nullptr, 10) != 1) return true;
    if (has_start_) return refuse(line.number, "second INDEX 01 in one TRACK");
    has_start_ = true;
    if (!audio_) return true;
    const auto blocks = static_cast<std::uint32_t>(parse_time_code(line.args[1].c_str()));
    const std::size_t before = list_.breaks.size();
    break_file_add(list_, BreakSource{path_, line.number}, 1, blocks, std::nullopt);
    if (list_.breaks.size() != before) track_break_ = blocks;
    return true;
  }

  bool finish_track(int line_number) {
    if (in_track_ && audio_ && !has_start_) {
      return refuse(line_number, "an audio TRACK without INDEX 01");
    }
    // The track's lines may follow its INDEX 01: its break learns them once it is complete.
    if (track_break_) {
      if (TrackBreak* brk = track_break_list_find(list_, *track_break_)) brk->metadata = track_metadata_;
      track_break_.reset();
    }
    return true;
  }

  const std::string& path_;
  TrackBreakList& list_;
  const BreakFileReading& reading_;
  TrackMetadata track_metadata_;
  std::optional<std::uint64_t> track_break_;  // the break this track added, if it added one
  int files_ = 0;
  bool in_track_ = false;
  long track_number_ = 0;
  bool audio_ = false;
  bool has_start_ = false;
};

struct CueWriter {
  std::string text;
};

void write_cue_track(std::int32_t index, std::int32_t /*write*/, std::uint64_t start,
                     std::uint64_t /*end*/, const std::string& /*name*/, void* user_data) {
  auto& writer = *static_cast<CueWriter*>(user_data);
  writer.text += printf_string("TRACK %02d AUDIO\nINDEX 01 %s\n", index + 1,
                               format_time_code(start, true).c_str());
}

}  // namespace

std::vector<std::string> cue_sheet_files(std::string_view text) {
  std::vector<std::string> files;
  CueLines lines(text);
  while (std::optional<CueLine> line = lines.next()) {
    if (line->keyword == "FILE" && !line->args.empty()) files.push_back(line->args.front());
  }
  return files;
}

ReadOutcome cue_sheet_parse(std::string_view text, const std::string& path, TrackBreakList& list,
                            const BreakFileReading& reading) {
  if (!is_cue_sheet(text)) return ReadOutcome::NotThisFormat;
  return CueParser(path, list, reading).parse(text);
}

int track_break_list_read_cue(const std::string& path, TrackBreakList& list,
                              const BreakFileReading& reading) {
  const BreakFileText file = break_file_read(path, list, reading);
  if (!file.ok()) return 0;
  return cue_sheet_parse(file.text, path, list, reading) == ReadOutcome::Read ? 1 : 0;
}

std::string track_break_list_cue_text(const std::string& audio_filename, const TrackBreakList& list) {
  CueWriter writer;
  writer.text = printf_string("FILE \"%s\" WAVE\n", audio_filename.c_str());
  track_break_list_foreach(list, write_cue_track, &writer);
  return std::move(writer.text);
}

int track_break_list_write_cue(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list) {
  FilePtr fp = open_for_writing(path);
  if (!fp) {
    g_warning("Error opening %s.", path.c_str());
    return 0;
  }
  return write_and_close(std::move(fp), path, track_break_list_cue_text(audio_filename, list));
}
