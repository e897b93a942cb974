// Track tags as Vorbis comments, the tag form of Ogg Vorbis and FLAC.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/format.h"
#include "formats/track_tags.h"

// Whether comment ("FIELD=value"; without '=', all of it is the name) describes the whole
// source and so no track cut from it: CUESHEET, LOG, REPLAYGAIN_TRACK_* (the source's gain and
// peak as one track) and the source's place in a set, TRACKNUMBER, TRACKTOTAL and TOTALTRACKS.
// Names match in any ASCII case, as Vorbis comments define.
bool vorbis_comment_describes_source(std::string_view comment);

// The cue sheet that rippers keep in a CUESHEET comment, as its text; nullopt without one.
std::optional<EmbeddedSheet> vorbis_comments_sheet(std::span<const std::string_view> comments);

// The comments of source that a track cut from it keeps, in their order: all but those that
// describe the whole source.
std::vector<std::string> vorbis_comments_of_part(std::span<const std::string> source);

// The comments ("FIELD=value") of a track cut from a source whose comments are source: the
// source's own in their order, less every field that the tags give (TITLE, ARTIST, ALBUM,
// TRACKNUMBER, TRACKTOTAL, DATE, GENRE; field names match in any ASCII case), then the
// fields of the tags in that order.
std::vector<std::string> vorbis_comments_for_track(std::span<const std::string> source,
                                                   const TrackTags& tags);
