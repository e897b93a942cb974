// The own TXT format of break lists: one break a line, as a block count and a name.
#pragma once

#include <string>
#include <string_view>

#include "breaks/text_file.h"
#include "breaks/track_break_list.h"

// The list in text (the file's text, as break_file_read gives it): 1 when every line was
// taken, 0 when a line is longer than any list writes.
int txt_parse(std::string_view text, const std::string& path, TrackBreakList& list,
              const BreakFileReading& reading);
// The reader clears the list once the file is open, then adds the file's breaks; breaks
// beyond the list's length are dropped with a warning. The writer creates or truncates the
// file; 0 when it could not be written completely.
int track_break_list_read_txt(const std::string& path, TrackBreakList& list,
                              const BreakFileReading& reading = {});
// The text the writer writes.
std::string track_break_list_txt_text(const std::string& audio_filename, const TrackBreakList& list);
int track_break_list_write_txt(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list);
