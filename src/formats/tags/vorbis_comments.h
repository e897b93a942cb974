// Track tags as Vorbis comments, the tag form of Ogg Vorbis and FLAC.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "formats/track_tags.h"

// The comments ("FIELD=value") of a track cut from a source whose comments are source: the
// source's own in their order, less every field that the tags give (TITLE, ARTIST, ALBUM,
// TRACKNUMBER, TRACKTOTAL, DATE, GENRE; field names match in any ASCII case), then the
// fields of the tags in that order.
std::vector<std::string> vorbis_comments_for_track(std::span<const std::string> source,
                                                   const TrackTags& tags);
