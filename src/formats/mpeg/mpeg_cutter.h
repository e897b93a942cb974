// The MPEG module's write_range: copies the whole frames of a range without decoding.
#pragma once

#include "formats/format.h"

// Writes the frames that hold PCM bytes [request.start, request.end) of an MPEG file (end 0:
// to the end) into request.out, behind an ID3v2 tag of request.tags. With request.gapless, a
// layer III track starts with an Info frame that makes gapless decoders play exactly the range
// (see mpeg_gapless.h). -1, with a warning, when the stream cannot be cut or the output cannot
// be written; 0 otherwise.
int mpeg_write_range(AudioFile& file, const TrackRequest& request);
