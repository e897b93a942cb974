#include "formats/flac/flac_cuesheet.h"

#include <FLAC/metadata.h>

#include "formats/flac/flac_file.h"
#include "formats/tags/vorbis_comments.h"

namespace {

// A track starts at its INDEX 01; one without it (the format allows that) at its first index.
std::uint64_t track_start(const FLAC__StreamMetadata_CueSheet_Track& track) {
  for (unsigned i = 0; i < track.num_indices; ++i) {
    if (track.indices[i].number == 1) return track.offset + track.indices[i].offset;
  }
  return track.num_indices > 0 ? track.offset + track.indices[0].offset : track.offset;
}

EmbeddedSheet sheet_of_block(const FLAC__StreamMetadata_CueSheet& block, std::uint32_t rate) {
  EmbeddedSheet sheet;
  sheet.rate = rate;
  // The last track is the lead-out: where the disc ends, not a track.
  for (unsigned i = 0; i + 1 < block.num_tracks; ++i) {
    const FLAC__StreamMetadata_CueSheet_Track& track = block.tracks[i];
    EmbeddedSheetTrack entry;
    entry.number = track.number;
    entry.start = track_start(track);
    entry.audio = track.type == 0;
    entry.isrc = std::string(track.isrc, strnlen(track.isrc, sizeof track.isrc));
    sheet.tracks.push_back(std::move(entry));
  }
  return sheet;
}

std::optional<EmbeddedSheet> sheet_of_comment(const FLAC__StreamMetadata* comments) {
  if (comments == nullptr) return std::nullopt;
  const FLAC__StreamMetadata_VorbisComment& vc = comments->data.vorbis_comment;
  std::vector<std::string_view> texts;
  for (FLAC__uint32 i = 0; i < vc.num_comments; ++i) {
    texts.emplace_back(reinterpret_cast<const char*>(vc.comments[i].entry), vc.comments[i].length);
  }
  return vorbis_comments_sheet(texts);
}

}  // namespace

std::optional<EmbeddedSheet> flac_embedded_sheet(AudioFile& base) {
  const auto& file = static_cast<const FlacAudioFile&>(base);
  FLAC__StreamMetadata* block = nullptr;
  if (FLAC__metadata_get_cuesheet(file.path.c_str(), &block)) {
    const FlacMetadataPtr owned(block);
    return sheet_of_block(owned->data.cue_sheet, file.stream_info.sample_rate);
  }
  return sheet_of_comment(file.vorbis_comment.get());
}
