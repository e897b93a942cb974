// Output names of tracks: the explicit file name of a break, or one made from the list's base
// name and the track's position by the naming options of the settings.
#pragma once

#include <string>

#include "breaks/track_break_list.h"

// The output name (without folder and extension) of brk, which must belong to list. Reads the
// four naming options at every call.
std::string track_break_get_filename(const TrackBreak& brk, const TrackBreakList& list);
