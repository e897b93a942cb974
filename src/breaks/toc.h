// TOC files as break lists.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "breaks/text_file.h"
#include "breaks/track_break_list.h"

// The TOC file in text (the file's text, as break_file_read gives it); NotThisFormat before a
// break is added when the text is no TOC file at all.
ReadOutcome toc_file_parse(std::string_view text, const std::string& path, TrackBreakList& list,
                           const BreakFileReading& reading);
// The audio files the TOC file's FILE and AUDIOFILE statements name, each once, in order.
std::vector<std::string> toc_file_audio_files(std::string_view text);
// The reader clears the list once the file is open, then adds the file's breaks; breaks
// beyond the list's length are dropped with a warning. The writer creates or truncates the
// file; 0 when it could not be written completely.
int track_break_list_read_toc(const std::string& path, TrackBreakList& list,
                              const BreakFileReading& reading = {});
// The text the writer writes.
std::string track_break_list_toc_text(const std::string& audio_filename, const TrackBreakList& list);
int track_break_list_write_toc(const std::string& path, const std::string& audio_filename,
                               const TrackBreakList& list);
