// The titles, performers and the like that break-list files carry besides positions.
#pragma once

#include <string>
#include <string_view>

#include "breaks/track_break_list.h"
#include "formats/track_tags.h"

// raw as a metadata text: valid UTF-8 (see text_make_valid_utf8), control characters
// dropped, blanks at either end trimmed.
std::string metadata_clean_text(std::string_view raw);

// text without its control characters (C0, DEL and C1); text must be valid UTF-8.
std::string metadata_drop_controls(std::string_view text);

// The tags of the track at position in list: its title, its performer or else the album's,
// the album's title, date and genre, its number in the list and the list's number of tracks.
TrackTags track_break_list_tags(const TrackBreakList& list, std::size_t position);
