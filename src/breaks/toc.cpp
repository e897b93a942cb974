// TOC files as cdrdao writes them: per TRACK, the audio data's place in a file (FILE or
// AUDIOFILE with a start and a length), silence that is not in the file (SILENCE, PREGAP)
// and the START of the track proper behind its pregap.
#include <glib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "breaks/toc.h"
#include "breaks/metadata.h"
#include "breaks/naming.h"
#include "breaks/text_decoding.h"
#include "breaks/printf_string.h"
#include "breaks/text_file.h"
#include "breaks/time_code.h"

namespace {

constexpr std::uint64_t SAMPLES_PER_BLOCK = 44100 / 75;

struct TocToken {
  std::string text;
  bool quoted = false;
  int line = 0;
  std::string value;  // a quoted string's text with every escape read, octal ones included
};

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

bool is_octal(char c) { return c >= '0' && c <= '7'; }

// The escape at text[i] (a backslash) as CD-TEXT strings write it: three octal digits stand
// for one byte, any other character for itself. Returns where the escape ends.
std::size_t read_escape(std::string_view text, std::size_t i, std::string& value) {
  if (i + 3 < text.size() && is_octal(text[i + 1]) && is_octal(text[i + 2]) && is_octal(text[i + 3])) {
    value += static_cast<char>(((text[i + 1] - '0') << 6) | ((text[i + 2] - '0') << 3) | (text[i + 3] - '0'));
    return i + 4;
  }
  value += text[i + 1];
  return i + 2;
}

// Reads a quoted string from text[i] (the opening quote) into token; in its text a backslash
// escapes one character.
std::size_t quoted_end(std::string_view text, std::size_t i, TocToken& token) {
  const std::size_t start = i + 1;
  for (++i; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) ++i;
    token.text += text[i];
  }
  for (std::size_t at = start; at < i;) {
    if (text[at] == '\\' && at + 1 < i) {
      at = read_escape(text, at, token.value);
    } else {
      token.value += text[at++];
    }
  }
  return i + 1;
}

// Words, quoted strings and braces, read as the parser asks for them: the tokens of a whole
// file at once would take many times its bytes. "//" comments are dropped.
class TocTokens {
 public:
  explicit TocTokens(std::string_view text) : text_(text) {}

  // The token ahead places on, or nullptr behind the last one.
  const TocToken* peek(std::size_t ahead = 0) {
    while (buffered_.size() <= ahead) {
      std::optional<TocToken> token = read();
      if (!token) return nullptr;
      buffered_.push_back(std::move(*token));
    }
    return &buffered_[ahead];
  }

  std::optional<TocToken> take() {
    if (peek() == nullptr) return std::nullopt;
    TocToken token = std::move(buffered_.front());
    buffered_.pop_front();
    return token;
  }

  void skip() { take(); }

 private:
  std::optional<TocToken> read() {
    while (i_ < text_.size()) {
      const char c = text_[i_];
      if (c == '\n' || (c == '\r' && (i_ + 1 == text_.size() || text_[i_ + 1] != '\n'))) ++line_;
      if (is_space(c)) {
        ++i_;
      } else if (text_.substr(i_).starts_with("//")) {
        i_ = std::min(text_.find_first_of("\r\n", i_), text_.size());
      } else if (c == '"') {
        TocToken token{std::string(), true, line_, std::string()};
        i_ = quoted_end(text_, i_, token);
        return token;
      } else if (c == '{' || c == '}') {
        ++i_;
        return TocToken{std::string(1, c), false, line_, std::string()};
      } else {
        std::size_t end = i_;
        while (end < text_.size() && !is_space(text_[end]) && text_[end] != '"' &&
               text_[end] != '{' && text_[end] != '}' && !text_.substr(end).starts_with("//")) {
          ++end;
        }
        TocToken token{std::string(text_.substr(i_, end - i_)), false, line_, std::string()};
        i_ = end;
        return token;
      }
    }
    return std::nullopt;
  }

  std::string_view text_;
  std::size_t i_ = 0;
  int line_ = 1;
  std::deque<TocToken> buffered_;  // read ahead: never more than the parser's lookahead
};

// A position or length: MM:SS:FF, or a count of samples (588 to the block).
std::optional<std::uint64_t> toc_blocks(const TocToken& token) {
  if (token.quoted) return std::nullopt;
  std::string_view word = token.text;
  if (time_code_is_digits(word)) return std::strtoull(token.text.c_str(), nullptr, 10) / SAMPLES_PER_BLOCK;
  if (!time_code_is_well_formed(word)) return std::nullopt;
  return static_cast<std::uint32_t>(parse_time_code(token.text.c_str()));
}

bool is_toc_file(std::string_view text) {
  TocTokens tokens(text);
  while (std::optional<TocToken> token = tokens.take()) {
    if (!token->quoted && (token->text == "CD_DA" || token->text == "CD_ROM" ||
                           token->text == "CD_ROM_XA" || token->text == "TRACK")) {
      return true;
    }
  }
  return false;
}

struct TocTrack {
  bool audio = false;
  std::uint64_t position = 0;                // track data so far, silence included
  std::optional<std::uint64_t> file_start;   // where the track's first file data begins
  std::uint64_t silence_before_file = 0;     // track data before that file data
  std::optional<std::uint64_t> start;        // START: where the track proper begins
  TrackMetadata metadata;
  int line = 0;                              // of its TRACK statement
};

class TocParser {
 public:
  TocParser(const std::string& path, TrackBreakList& list, std::string_view text,
            const BreakFileReading& reading)
      : path_(path), list_(list), tokens_(text), reading_(reading) {}

  ReadOutcome parse() {
    while (std::optional<TocToken> token = tokens_.take()) {
      if (!statement(*token)) return ReadOutcome::Refused;
    }
    finish_track();
    return ReadOutcome::Read;
  }

 private:
  bool refuse(int line, const char* reason) {
    g_warning("Cannot use TOC file %s, line %d: %s", path_.c_str(), line, reason);
    return false;
  }

  const TocToken* peek(std::size_t ahead = 0) { return tokens_.peek(ahead); }

  std::optional<std::uint64_t> optional_blocks() {
    const TocToken* token = peek();
    if (token == nullptr) return std::nullopt;
    std::optional<std::uint64_t> blocks = toc_blocks(*token);
    if (blocks) tokens_.skip();
    return blocks;
  }

  bool statement(const TocToken& token) {
    if (token.quoted) return true;
    if (token.text == "{") return skip_block();
    if (token.text == "TRACK") return start_track(token.line);
    if (token.text == "FILE" || token.text == "AUDIOFILE") return file_data(token);
    if (token.text == "SILENCE" || token.text == "PREGAP" || token.text == "ZERO") {
      return silence(token);
    }
    if (token.text == "START") {
      track_.start = optional_blocks().value_or(track_.position);
      return true;
    }
    if (reading_.metadata && token.text == "CD_TEXT") return cd_text();
    if (reading_.metadata && token.text == "ISRC" && in_track_ && peek() != nullptr && peek()->quoted) {
      track_.metadata.isrc = cd_text_value(tokens_.take()->value);
      return true;
    }
    // CD_TEXT blocks, flags, ISRC, INDEX and the like do not move a track's start.
    return true;
  }

  // CD_TEXT { LANGUAGE_MAP { ... } LANGUAGE n { ITEM "text" ITEM { binary } ... } }: the
  // items of language 0 describe the disc before the first TRACK, the track after it. The
  // block ends where skip_block would end it, so the positions read the same either way.
  bool cd_text() {
    const TocToken* open = peek();
    if (open == nullptr || open->quoted || open->text != "{") return true;
    tokens_.skip();
    int depth = 1;
    bool language_zero = false;
    while (depth > 0) {
      const std::optional<TocToken> token = tokens_.take();
      if (!token) break;
      if (token->quoted) continue;
      if (token->text == "{") {
        ++depth;
      } else if (token->text == "}") {
        --depth;
        if (depth < 2) language_zero = false;
      } else if (depth == 1 && token->text == "LANGUAGE" && peek(1) != nullptr &&
                 !peek()->quoted && peek(1)->text == "{" && !peek(1)->quoted) {
        language_zero = peek()->text == "0";
        tokens_.skip();
        tokens_.skip();
        ++depth;
      } else if (depth == 2 && language_zero && peek() != nullptr && peek()->quoted) {
        cd_text_item(token->text, tokens_.take()->value);
      }
    }
    return true;
  }

  // Octal escapes write bytes of the disc's CD-TEXT charset, ISO 8859-1 unless the user
  // names another.
  std::string cd_text_value(const std::string& value) const {
    const std::string charset = reading_.charset.empty() ? "ISO-8859-1" : reading_.charset;
    return metadata_clean_text(text_decode_to_utf8(value, charset, path_));
  }

  void cd_text_item(const std::string& item, const std::string& value) {
    AlbumMetadata& album = list_.album;
    TrackMetadata& track = track_.metadata;
    if (item == "TITLE") (in_track_ ? track.title : album.title) = cd_text_value(value);
    if (item == "PERFORMER") (in_track_ ? track.performer : album.performer) = cd_text_value(value);
    if (item == "ISRC" && in_track_) track.isrc = cd_text_value(value);
    if (item == "GENRE" && !in_track_) album.genre = cd_text_value(value);
  }

  bool skip_block() {
    for (int depth = 1; depth > 0;) {
      const std::optional<TocToken> token = tokens_.take();
      if (!token) break;
      if (token->quoted) continue;
      if (token->text == "{") ++depth;
      if (token->text == "}") --depth;
    }
    return true;
  }

  bool start_track(int line) {
    finish_track();
    track_ = TocTrack{};
    track_.line = line;
    in_track_ = true;
    const TocToken* mode = peek();
    track_.audio = mode != nullptr && !mode->quoted && mode->text == "AUDIO";
    return true;
  }

  bool silence(const TocToken& token) {
    // ZERO may name a data mode before its length.
    while (token.text == "ZERO" && peek() != nullptr && !toc_blocks(*peek()) &&
           !peek()->quoted && peek()->text != "TRACK") {
      tokens_.skip();
    }
    const std::optional<std::uint64_t> length = optional_blocks();
    if (!length) return refuse(token.line, "missing or malformed length");
    track_.position += *length;
    return true;
  }

  bool file_data(const TocToken& token) {
    if (!in_track_) return refuse(token.line, "FILE before TRACK");
    const TocToken* name = peek();
    if (name == nullptr || !name->quoted) return refuse(token.line, "FILE without a file name");
    const std::string file = tokens_.take()->text;
    if (!filename_) {
      filename_ = file;
    } else if (*filename_ != file) {
      // Breaks are positions in one recording; another file's positions cannot be placed in it.
      return refuse(token.line, "more than one audio file");
    }
    if (peek() != nullptr && !peek()->quoted && peek()->text.starts_with("#")) tokens_.skip();
    const std::optional<std::uint64_t> start = optional_blocks();
    if (!start) return refuse(token.line, "missing or malformed start");
    if (!track_.file_start) {
      track_.file_start = *start;
      track_.silence_before_file = track_.position;
    }
    track_.position += optional_blocks().value_or(0);
    return true;
  }

  void finish_track() {
    if (!in_track_ || !track_.audio || !track_.file_start) return;
    // START counts from the beginning of the track's data, silence included, which the
    // file does not hold; a START inside that silence leaves the break at the file data.
    const std::uint64_t start = track_.start.value_or(track_.silence_before_file);
    const std::uint64_t into_file =
        start > track_.silence_before_file ? start - track_.silence_before_file : 0;
    const std::size_t before = list_.breaks.size();
    TrackBreak* brk = break_file_add(list_, BreakSource{path_, track_.line}, 1,
                                     *track_.file_start + into_file, std::nullopt);
    if (brk != nullptr && list_.breaks.size() != before) brk->metadata = track_.metadata;
  }

  const std::string& path_;
  TrackBreakList& list_;
  TocTokens tokens_;
  const BreakFileReading& reading_;
  bool in_track_ = false;
  TocTrack track_;
  std::optional<std::string> filename_;
};

struct TocWriter {
  std::string audio_filename;
  std::string text;
};

void write_toc_track(std::int32_t index, std::int32_t /*write*/, std::uint64_t start,
                     std::uint64_t end, const std::string& /*name*/, void* user_data) {
  auto& writer = *static_cast<TocWriter*>(user_data);
  writer.text += printf_string("\n// track %02d\nTRACK AUDIO\nFILE \"%s\" %s %s\n", index,
                               writer.audio_filename.c_str(),
                               format_time_code(start, true).c_str(),
                               format_time_code(end - start, true).c_str());
}

}  // namespace

std::vector<std::string> toc_file_audio_files(std::string_view text) {
  std::vector<std::string> files;
  TocTokens tokens(text);
  while (std::optional<TocToken> token = tokens.take()) {
    if (token->quoted || (token->text != "FILE" && token->text != "AUDIOFILE")) continue;
    const TocToken* name = tokens.peek();
    if (name == nullptr || !name->quoted) continue;
    if (std::find(files.begin(), files.end(), name->text) == files.end()) files.push_back(name->text);
  }
  return files;
}

ReadOutcome toc_file_parse(std::string_view text, const std::string& path, TrackBreakList& list,
                           const BreakFileReading& reading) {
  if (!is_toc_file(text)) return ReadOutcome::NotThisFormat;
  return TocParser(path, list, text, reading).parse();
}

int track_break_list_read_toc(const std::string& path, TrackBreakList& list,
                              const BreakFileReading& reading) {
  const BreakFileText file = break_file_read(path, list, reading);
  if (!file.ok()) return 0;
  return toc_file_parse(file.text, path, list, reading) == ReadOutcome::Read ? 1 : 0;
}

std::string track_break_list_toc_text(const std::string& audio_filename, const TrackBreakList& list) {
  TocWriter writer{audio_filename, "// Generated with trackfold\n\nCD_DA\n"};
  track_break_list_foreach(list, write_toc_track, &writer);
  return std::move(writer.text);
}

int track_break_list_write_toc(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list) {
  FilePtr fp = open_for_writing(path);
  if (!fp) {
    g_warning("Could not open %s for writing: %s", path.c_str(), g_strerror(errno));
    return 0;
  }
  return write_and_close(std::move(fp), path, track_break_list_toc_text(audio_filename, list));
}
