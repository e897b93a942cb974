// The Ogg module's cutter: a range of an Ogg Vorbis file becomes a file of its own that
// decodes to exactly the samples of the range, without re-encoding. The packets are copied;
// the granule positions of the new pages tell the decoder which samples to trim.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/format.h"
#include "formats/ogg/ogg_index.h"
#include "formats/track_tags.h"

// One logical stream of a track: the share of one link of the source.
struct OggCutPart {
  std::size_t link = 0;
  std::size_t priming = 0;     // the audio packet before the first that holds a sample of the range
  std::size_t last = 0;        // the last audio packet written
  std::int64_t raw_start = 0;  // raw sample of the part's first sample: its granules count from it
  std::int64_t length = 0;     // decoded samples
  std::uint32_t serial = 0;
};

// The streams of the track that holds samples [start, end) of the decoded timeline (an end
// past the audio: to its end), one per link the range touches. The serials derive from the
// source's and track_number alone. std::nullopt, with the reason in *error, when the range holds no
// sample or cannot be expressed by Vorbis granule positions.
std::optional<std::vector<OggCutPart>> ogg_cut_plan(const OggPacketIndex& index,
                                                    std::int64_t start, std::int64_t end,
                                                    std::uint32_t track_number,
                                                    ErrorText* error);

// Writes the track [start, end) of the indexed file `source` into `out` (already open; not
// closed here), reporting fractions of the work through progress. A track across links becomes
// chained streams, with a warning. With tags, each stream's comments are the source's with the
// tags' fields replaced (vorbis_comments_for_track). 0, or -1 after a warning naming
// source_path or out_name; out then holds a partial stream.
int ogg_cut(const OggPacketIndex& index, std::FILE* source,
            const std::string& source_path,
            std::int64_t start, std::int64_t end, std::uint32_t track_number, std::FILE* out,
            std::string_view out_name, WriteProgressFunc progress, void* user_data,
            const TrackTags* tags = nullptr);
