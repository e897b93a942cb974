// TOC files as break lists.
#pragma once

#include <string>

#include "breaks/text_file.h"
#include "breaks/toc.h"
#include "breaks/track_break_list.h"

// The reader clears the list once the file is open, then adds the file's breaks; breaks
// beyond the list's length are dropped with a warning. The writer creates or truncates the
// file; 0 when it could not be written completely.
ReadOutcome read_toc_file(const std::string& path, TrackBreakList& list,
                          const BreakFileReading& reading = {});
int track_break_list_read_toc(const std::string& path, TrackBreakList& list,
                              const BreakFileReading& reading = {});
// The text the writer writes.
std::string track_break_list_toc_text(const std::string& audio_filename, const TrackBreakList& list);
int track_break_list_write_toc(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list);
