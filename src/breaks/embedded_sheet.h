// Break lists that audio files carry: the cue sheet a ripper embeds in a FLAC or Ogg Vorbis
// file, as a CUESHEET metadata block or a CUESHEET comment.
#pragma once

#include <optional>
#include <string>

#include "breaks/text_file.h"
#include "breaks/track_break_list.h"

// Whether the first bytes of the regular file at path are an audio container's mark.
bool embedded_sheet_may_be_audio(const std::string& path);

// nullopt when path is no audio file: it is then read as a list file. Otherwise the file's
// sheet, read into list as a reader does (1, or 0 after a warning: "no cue sheet in PATH"
// for an audio file that carries none).
std::optional<int> embedded_sheet_read(const std::string& path, TrackBreakList& list,
                                       const BreakFileReading& reading);
