// Break-list files: the own TXT format, CUE sheets and TOC files, read into and written from a
// TrackBreakList. All results are 1 for success and 0 for failure; reasons are logged.
#pragma once

#include <string>

#include "breaks/text_file.h"
#include "breaks/track_break_list.h"

// Chooses the reader by the path's last four characters (".toc"/".TOC", ".cue"/".CUE",
// anything else TXT). A file that is no cue sheet or TOC file at all is read as TXT instead.
int track_break_list_read(const std::string& path, TrackBreakList& list,
                          const BreakFileReading& reading = {});
// The text the writer that path chooses would write: for output that goes elsewhere than
// to path itself (standard output, a temporary file).
std::string track_break_list_text(const std::string& path, const std::string& audio_filename,
                                  const TrackBreakList& list);
// Chooses the writer by lower-case ".toc" or ".cue"; anything else is written as TXT.
// audio_filename is only written into the file.
int track_break_list_write(const std::string& path, const std::string& audio_filename,
                           const TrackBreakList& list);
