// FLAC tracks: a range of a FLAC file's samples decoded and encoded again with libFLAC, with
// the source's tags and pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/flac/flac_file.h"
#include "formats/track_tags.h"

// Samples [first_sample, end_sample) of the source.
struct FlacTrack {
  std::uint64_t first_sample = 0;
  std::uint64_t end_sample = 0;
};

// Writes the track into request.out, from its current position, as a complete FLAC stream: the
// source's rate, channels and depth, compression level 5 with verification, STREAMINFO's
// length and MD5 signature, a seek point every 10 seconds and some padding, the source's
// VORBIS_COMMENT less the fields of the whole file, with the fields of request.tags (may be
// null) in place of theirs (flac_track_comment), and its PICTUREs. request.start and
// request.end are not read: track holds the samples, as the module worked them out.
// request.out stays the caller's, unflushed. request.progress gets 0.0 first and then the
// fraction encoded, never 1.0. 0 on success; -1 with a warning naming the source or
// request.path. Several tracks of one file may be written at once.
int flac_write_track(const FlacAudioFile& file, const TrackRequest& request, FlacTrack track);

// false, after the warning that the track cannot be written from file, and why.
bool flac_refuse_track(const FlacAudioFile& file, const TrackRequest& request, const std::string& reason);

// The metadata blocks of one track, owned here; libFLAC borrows them until it has finished.
struct FlacTrackMetadata {
  std::vector<FlacMetadataPtr> owned;
  std::vector<FLAC__StreamMetadata*> blocks;

  // Takes block; false when it is null (libFLAC had no memory for it).
  bool add(FLAC__StreamMetadata* block);
};

// The blocks that follow STREAMINFO in a track of `samples` samples of file: its comment
// (flac_track_comment), its pictures, with seek_table a SEEKTABLE of placeholders aimed at
// every 10 seconds, and padding. false when memory ran out.
bool flac_track_metadata(const FlacAudioFile& file, std::uint64_t samples, const TrackTags* tags,
                         bool seek_table, FlacTrackMetadata& metadata);

// A copy of a VORBIS_COMMENT block without the fields that describe the whole file only
// (vorbis_comment_describes_source), then with the fields of tags replacing
// those of the same names (vorbis_comments_for_track). nullptr when there is neither a
// comment nor tags.
FlacMetadataPtr flac_track_comment(const FLAC__StreamMetadata* comment,
                                   const TrackTags* tags = nullptr);
