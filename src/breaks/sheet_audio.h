// The audio file a break list names, so that a split can be given the list alone: a cue
// sheet's FILE line or a TOC file's FILE statement, relative to the list's folder, or the
// audio file itself when the list is the sheet an audio file carries.
#pragma once

#include <string>
#include <vector>

#include "breaks/text_file.h"

struct SheetAudio {
  enum class Found {
    Named,         // the file the list names: path
    StandIn,       // it is missing, but one file of its stem is audio: path, with named
    Itself,        // the list is an audio file carrying its sheet: path
    NoName,        // the list names no audio file (a TXT list, a sheet without FILE)
    SeveralNames,  // one file per track: names
    Missing,       // the named file is missing, and no file of its stem is audio: named
    Ambiguous,     // the named file is missing, and several files of its stem are audio
    Unreadable,    // the list itself cannot be read (already reported)
  };
  Found found = Found::NoName;
  std::string path;
  std::string named;               // what the list names, as a path from the current folder
  std::vector<std::string> names;  // SeveralNames: every name; Ambiguous: the candidates
};

SheetAudio sheet_audio_find(const std::string& list_path, const BreakFileReading& reading);
