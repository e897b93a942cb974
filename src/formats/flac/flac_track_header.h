// The metadata in front of a frame-copied FLAC track. libFLAC's encoder lays it out from the
// blocks the re-encoded tracks get (comment, pictures, a seek table when the source has one,
// padding); STREAMINFO and the seek points, which only the written frames decide, are filled
// in here, since libFLAC writes those only for frames it encodes itself.
#pragma once

#include <FLAC/format.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/flac/flac_file.h"
#include "formats/track_tags.h"

// STREAMINFO's 34 bytes of data for info, as the format lays them out.
void flac_put_stream_info(const FLAC__StreamMetadata_StreamInfo& info, std::span<std::uint8_t, 34> out);
// A seek point's 18 bytes.
void flac_put_seek_point(const FLAC__StreamMetadata_SeekPoint& point, std::span<std::uint8_t, 18> out);

class FlacTrackHeader {
 public:
  // Lays out "fLaC" and the metadata of a track of `samples` samples of file, with the fields
  // of tags (may be null) in its comment. false with a reason.
  bool build(const FlacAudioFile& file, std::uint64_t samples, const TrackTags* tags, std::string& reason);

  // The header's bytes, to be written in front of the frames.
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  // The samples the seek points aim at, in order; empty when the track has no SEEKTABLE.
  const std::vector<std::uint64_t>& seek_targets() const { return seek_targets_; }

  // Puts info into STREAMINFO and points, at most one per target, into the SEEKTABLE; the
  // points of targets left over become placeholders.
  void complete(const FLAC__StreamMetadata_StreamInfo& info,
                std::span<const FLAC__StreamMetadata_SeekPoint> points);

 private:
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint64_t> seek_targets_;
  std::size_t seek_table_at_ = 0;  // where the SEEKTABLE's points begin in bytes_; 0: none
};
