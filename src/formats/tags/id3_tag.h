// Track tags as an ID3v2 tag, the tag form of MPEG audio tracks.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "formats/track_tags.h"

// The tags as an ID3v2.4 tag (header, frames and padding), rendered by TagLib, to stand in
// front of a track's first frame. Empty when the tags give nothing.
std::string id3v2_tag_bytes(const TrackTags& tags);
// Writes that tag at out's position and flushes out, since frames may follow through its
// descriptor. false after a warning naming path.
bool id3v2_write_tag(std::FILE* out, const TrackTags& tags, std::string_view path);
