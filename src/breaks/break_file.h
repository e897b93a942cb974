// Break-list files: the own TXT format, CUE sheets and TOC files, read into and written from a
// TrackBreakList. All results are 1 for success and 0 for failure; reasons are logged.
#pragma once

#include <string>

#include "breaks/track_break_list.h"

// How a file is read. By default its bytes are taken as they are and only the positions and
// the TXT names count.
struct BreakFileReading {
  // Decode the text to UTF-8 (text_decoding.h) and read the metadata: a cue sheet's
  // PERFORMER, TITLE, REM DATE and REM GENRE and its tracks' TITLE, PERFORMER and ISRC; a
  // TOC file's CD-TEXT of language 0 and ISRC; a TXT file's explicit names as titles.
  bool metadata = false;
  std::string charset;  // a file that is not UTF-8 is in this charset; empty: Windows-1252
};

// Chooses the reader by the path's last four characters (".toc"/".TOC", ".cue"/".CUE",
// anything else TXT). A file that is no cue sheet or TOC file at all is read as TXT instead.
int track_break_list_read(const std::string& path, TrackBreakList& list,
                          const BreakFileReading& reading = {});
// Chooses the writer by lower-case ".toc" or ".cue"; anything else is written as TXT.
// audio_filename is only written into the file.
int track_break_list_write(const std::string& path, const std::string& audio_filename,
                           const TrackBreakList& list);

// Each reader clears the list once the file is open, then adds the file's breaks; breaks
// beyond the list's length are dropped with a warning.
int track_break_list_read_txt(const std::string& path, TrackBreakList& list,
                              const BreakFileReading& reading = {});
int track_break_list_read_cue(const std::string& path, TrackBreakList& list,
                              const BreakFileReading& reading = {});
int track_break_list_read_toc(const std::string& path, TrackBreakList& list,
                              const BreakFileReading& reading = {});

// How a CUE or TOC read ended. track_break_list_read falls back to the TXT reader only for
// NotThisFormat (the file could not be opened, or is no cue sheet / TOC file at all); a
// recognisable but unusable file is Refused with a warning naming the file and line.
enum class ReadOutcome { Read, NotThisFormat, Refused };
ReadOutcome read_cue_sheet(const std::string& path, TrackBreakList& list,
                           const BreakFileReading& reading = {});
ReadOutcome read_toc_file(const std::string& path, TrackBreakList& list,
                          const BreakFileReading& reading = {});

// The text a reader parses: bytes as they are, or decoded to UTF-8 when reading metadata.
std::string break_file_text(std::string bytes, const std::string& path,
                            const BreakFileReading& reading);

// Each writer creates or truncates the file; 0 when it could not be written completely.
int track_break_list_write_txt(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list);
int track_break_list_write_cue(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list);
int track_break_list_write_toc(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list);
