// The cue sheet a FLAC file carries: its CUESHEET metadata block, or a CUESHEET comment.
#pragma once

#include <optional>

#include "formats/format.h"

// The block's tracks when the stream has a CUESHEET block, else the text of its CUESHEET
// comment; nullopt when it has neither.
std::optional<EmbeddedSheet> flac_embedded_sheet(AudioFile& file);
