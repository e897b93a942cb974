// Track tags as the LIST/INFO chunk of a RIFF WAVE file.
#pragma once

#include <cstdint>
#include <string>

#include "formats/track_tags.h"

// The tags as a LIST chunk of type INFO with the subchunks INAM (title), IART (artist), IPRD
// (album), ITRK (track number), ICRD (date) and IGNR (genre), each text NUL-terminated and
// each subchunk padded to an even size. Empty when the tags give nothing.
std::string wav_info_chunk(const TrackTags& tags);

// What follows data_length bytes of samples in a tagged track: the data chunk's pad byte when
// that length is odd, then the INFO chunk. Empty when the tags give nothing.
std::string wav_info_trailer(const TrackTags& tags, std::uint64_t data_length);
