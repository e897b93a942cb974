// FLAC tracks made of the source's own frames: a variable-blocksize stream whose inner frames
// are the source's, headers rewritten (flac_rewrite_frame) and subframes as they are, and whose
// partial frames at either end are encoded anew with libFLAC, one frame each.
#pragma once

#include "formats/flac/flac_encoder.h"
#include "formats/flac/flac_file.h"
#include "formats/format.h"

// Writes the track into request.out, from its current position, as a complete FLAC stream of
// the source's rate, channels and depth: the metadata of flac_write_track (comment with
// request.tags, pictures, padding) with a SEEKTABLE only when the source has one, then the
// frames. One decoding pass over the track's frames gives the samples of the ends, the MD5
// signature of the track and the check of every copied frame's CRC. A head shorter than 16
// samples is joined with the next source frame; a piece longer than the streamable subset
// allows at the rate is cut in frames that it allows. STREAMINFO states the track's real
// block and frame sizes. request.out stays the caller's, unflushed; progress as in
// flac_write_track. 0 on success; -1 with a warning naming request.path and, for a frame that
// cannot be decoded, the frame's byte offset in the source.
int flac_copy_track(const FlacAudioFile& file, const TrackRequest& request, FlacTrack track);
