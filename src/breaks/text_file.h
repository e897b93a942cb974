// Whole-file reads and checked writes for the break-list formats.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "breaks/track_break_list.h"
#include "io/file.h"

// No break list a person or a program writes comes near this size; a larger file is some
// other file given by mistake, and reading it whole could exhaust the memory.
constexpr std::uint64_t MAX_BREAK_FILE_BYTES = 16 * 1024 * 1024;

// The rest of the file's bytes, at most limit of them; nullopt (errno set) when reading
// fails, and with errno EFBIG when the file holds more than limit bytes.
std::optional<std::string> read_rest_of_file(std::FILE* fp, std::uint64_t limit);
// The file opened for writing (created or truncated), or nullptr with errno set.
FilePtr open_for_writing(const std::string& path);
// Writes text and closes the file, checking both: a file that could not be flushed was not
// written. 1 on success, 0 with the warning "Could not write %s: %s".
int write_and_close(FilePtr fp, const std::string& path, std::string_view text);

// How a file is read. By default its bytes are taken as they are and only the positions and
// the TXT names count.
struct BreakFileReading {
  // Decode the text to UTF-8 (text_decoding.h) and read the metadata: a cue sheet's
  // PERFORMER, TITLE, REM DATE and REM GENRE and its tracks' TITLE, PERFORMER and ISRC; a
  // TOC file's CD-TEXT of language 0 and ISRC; a TXT file's explicit names as titles.
  bool metadata = false;
  std::string charset;  // a file that is not UTF-8 is in this charset; empty: Windows-1252
};

// How a CUE or TOC read ended. track_break_list_read falls back to the TXT reader only for
// NotThisFormat (the file could not be opened, or is no cue sheet / TOC file at all); a
// recognisable but unusable file is Refused with a warning naming the file and line.
enum class ReadOutcome { Read, NotThisFormat, Refused };

// A break file's text, as its reader parses it: the bytes as they are, or decoded to UTF-8
// when reading metadata (text_decoding.h).
struct BreakFileText {
  std::string text;
  int open_error = 0;  // errno when the file could not be opened; the list is then untouched
  int read_error = 0;  // errno when it could not be read; the list is then already cleared
  bool too_large = false;  // more than MAX_BREAK_FILE_BYTES: not read, and already said so
  bool ok() const { return open_error == 0 && read_error == 0 && !too_large; }
};

// The prologue of every reader: opens path, clears list, reads the file whole and decodes it
// as reading asks.
BreakFileText break_file_read(const std::string& path, TrackBreakList& list, const BreakFileReading& reading);

// Where a list file gave a break: its path and line (or track, for a sheet without lines),
// for the messages about it.
struct BreakSource {
  const std::string& path;
  int line = 0;
  const char* unit = "line";
};

// track_break_list_add for a break read from a file. A break beyond the list's length is
// left out with a warning that names the file, the line and both times, and a track to be
// written counts in the list's written_tracks_left_out.
TrackBreak* break_file_add(TrackBreakList& list, const BreakSource& source, std::int32_t write,
                           std::uint64_t offset, std::optional<std::string_view> filename);

// false, after a warning with the reason, when the file could not be opened or read (a
// file too large was already reported by break_file_read).
bool break_file_readable(const BreakFileText& file, const std::string& path);

// The text a reader parses: bytes as they are (less a byte-order mark, and UTF-16 with its mark
// decoded), or decoded to UTF-8 when reading metadata.
std::string break_file_text(std::string bytes, const std::string& path,
                            const BreakFileReading& reading);
