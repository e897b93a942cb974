// Output names of tracks: the explicit file name of a break, or one made from the list's base
// name and the track's position by the naming options of the settings; or, when the list has
// a name format, one made from its template and the track's metadata.
#pragma once

#include <string>

#include "breaks/track_break_list.h"

// The output name (without folder and extension) of brk, which must belong to list: made from
// the list's name format when it has one (name_format.h), else the explicit file name or the
// name the four naming options give, which are read at every call.
std::string track_break_get_filename(const TrackBreak& brk, const TrackBreakList& list);
