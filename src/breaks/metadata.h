// The titles, performers and the like that break-list files carry besides positions.
#pragma once

#include <string>
#include <string_view>

// raw as a metadata text: valid UTF-8 (see text_make_valid_utf8), control characters
// dropped, blanks at either end trimmed.
std::string metadata_clean_text(std::string_view raw);

// text without its control characters (C0, DEL and C1); text must be valid UTF-8.
std::string metadata_drop_controls(std::string_view text);
