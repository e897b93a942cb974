// The Ogg module's cutter: a range of an Ogg Vorbis file becomes a file of its own that
// decodes to exactly the samples of the range, without re-encoding. The packets are copied;
// the granule positions of the new pages tell the decoder which samples to trim.
#pragma once

#include <cstdint>
#include <optional>
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

// The samples [start, end) of the decoded timeline that a track holds (an end past the audio:
// to its end).
struct OggSampleRange {
  std::int64_t start = 0;
  std::int64_t end = 0;
};

// Writes the track `range` of the indexed file `source` into request.out (already open; not
// closed here), reporting fractions of the work through request.progress; request.start and
// request.end are not read. A track across links becomes chained streams, with a warning.
// Each stream's comments are the source's less those of the whole source
// (vorbis_comment_describes_source), with request.tags' fields in place of the source's
// (vorbis_comments_for_track). 0, or -1 after a warning naming
// source.path or request.path; request.out then holds a partial stream.
int ogg_cut(const OggPacketIndex& index, const AudioFile& source, const TrackRequest& request,
            OggSampleRange range);
