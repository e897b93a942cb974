// The MPEG module's write_range: copies the whole frames of a range without decoding.
#pragma once

#include <cstddef>

#include "formats/format.h"

struct MpegAudioFile;
struct MpegFrameIndex;

// The frames [first, last) of the index that a frame-mode cut of PCM bytes [start, end) of
// file copies (end 0: to the end).
struct MpegCutFrames {
  std::size_t first = 0;
  std::size_t last = 0;
};
MpegCutFrames mpeg_cut_frames(const MpegAudioFile& file, const MpegFrameIndex& index, std::uint64_t start,
                              std::uint64_t end);
// Whether a cut of index with request writes a gapless track (layer III only).
bool mpeg_cuts_gapless(const MpegFrameIndex& index, const TrackRequest& request);

// Writes the frames that hold PCM bytes [request.start, request.end) of an MPEG file (end 0:
// to the end) into request.out, behind an ID3v2 tag of request.tags. With request.gapless, a
// layer III track starts with an Info frame that makes gapless decoders play exactly the range
// (see mpeg_gapless.h). -1, with a warning, when the stream cannot be cut or the output cannot
// be written; 0 otherwise.
int mpeg_write_range(AudioFile& file, const TrackRequest& request);
