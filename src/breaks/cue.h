// CUE sheets as break lists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "breaks/text_file.h"
#include "breaks/track_break_list.h"

// The sheet in text (the file's text, as break_file_read gives it); NotThisFormat before a
// break is added when the text is no cue sheet at all.
ReadOutcome cue_sheet_parse(std::string_view text, const std::string& path, TrackBreakList& list,
                            const BreakFileReading& reading);
// The file names of the sheet's FILE lines, in their order.
std::vector<std::string> cue_sheet_files(std::string_view text);
// The reader clears the list once the file is open, then adds the file's breaks; breaks
// beyond the list's length are dropped with a warning. The writer creates or truncates the
// file; 0 when it could not be written completely.
int track_break_list_read_cue(const std::string& path, TrackBreakList& list,
                              const BreakFileReading& reading = {});
// The text the writer writes.
std::string track_break_list_cue_text(const std::string& audio_filename, const TrackBreakList& list);
int track_break_list_write_cue(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list);
