// The MPEG module's verify_track: a frame-mode track holds, byte for byte, the source's frames
// of its range; a gapless track decodes to the source's samples of its range.
#pragma once

#include <string>

#include "formats/format.h"

// Reads the MPEG track at track_path back. A track cut by frames must hold, behind its own
// tag, exactly the frames mpeg_cut_frames gives for request, byte for byte and nothing between
// them (a difference is reported at the first sample of the frame where it lies, counted from
// the track's first frame); a gapless one must decode to the source's samples of the range,
// within one step of the least significant bit, with the exact length.
TrackCheck mpeg_verify_track(AudioFile& source, const TrackRequest& request, const std::string& track_path);
