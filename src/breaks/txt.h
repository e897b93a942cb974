// The own TXT format of break lists: one break a line, as a block count and a name.
#pragma once

#include <string>

#include "breaks/text_file.h"
#include "breaks/track_break_list.h"
#include "breaks/txt.h"

// The reader clears the list once the file is open, then adds the file's breaks; breaks
// beyond the list's length are dropped with a warning. The writer creates or truncates the
// file; 0 when it could not be written completely.
int track_break_list_read_txt(const std::string& path, TrackBreakList& list,
                              const BreakFileReading& reading = {});
// The text the writer writes.
std::string track_break_list_txt_text(const std::string& audio_filename, const TrackBreakList& list);
int track_break_list_write_txt(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list);
