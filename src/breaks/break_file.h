// Break-list files: the own TXT format, CUE sheets and TOC files, read into and written from a
// TrackBreakList. All results are 1 for success and 0 for failure; reasons are logged.
#pragma once

#include <string>

#include "breaks/track_break_list.h"

// Chooses the reader by the path's last four characters (".toc"/".TOC", ".cue"/".CUE",
// anything else TXT). A file that is no cue sheet or TOC file at all is read as TXT instead.
int track_break_list_read(const std::string& path, TrackBreakList& list);
// Chooses the writer by lower-case ".toc" or ".cue"; anything else is written as TXT.
// audio_filename is only written into the file.
int track_break_list_write(const std::string& path, const std::string& audio_filename,
                           const TrackBreakList& list);

// Each reader clears the list once the file is open, then adds the file's breaks; breaks
// beyond the list's length are dropped with a warning.
int track_break_list_read_txt(const std::string& path, TrackBreakList& list);
int track_break_list_read_cue(const std::string& path, TrackBreakList& list);
int track_break_list_read_toc(const std::string& path, TrackBreakList& list);

// How a CUE or TOC read ended. track_break_list_read falls back to the TXT reader only for
// NotThisFormat (the file could not be opened, or is no cue sheet / TOC file at all); a
// recognisable but unusable file is Refused with a warning naming the file and line.
enum class ReadOutcome { Read, NotThisFormat, Refused };
ReadOutcome read_cue_sheet(const std::string& path, TrackBreakList& list);
ReadOutcome read_toc_file(const std::string& path, TrackBreakList& list);

// Each writer creates or truncates the file; 0 when it could not be written completely.
int track_break_list_write_txt(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list);
int track_break_list_write_cue(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list);
int track_break_list_write_toc(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list);
