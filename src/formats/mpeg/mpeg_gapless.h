// Sample-exact tracks of MPEG layer III streams, without decoding: an Info frame whose encoder
// delay and padding make gapless decoders drop exactly the samples outside the track, a silent
// frame that carries the bit reservoir the first copied frame reaches back to, and the source's
// frames from enough before the track for the decoder to settle to enough after it.
#pragma once

#include <cstdint>

#include "formats/format.h"

struct MpegAudioFile;
struct MpegFrameIndex;

// Samples a decoder outputs before the first sample that an encoder was given: libmpg123 and
// ffmpeg both count 528 + 1 for layer III.
inline constexpr std::uint32_t MPEG_DECODER_DELAY = 529;

// Which frames make up a track and what its Info frame states.
struct MpegGaplessPlan {
  std::uint64_t first_frame = 0;  // index of the first source frame copied
  std::uint64_t copied = 0;       // source frames copied, after the reservoir frame
  std::uint64_t silent_tail = 0;  // silent frames after them where the source ends too early
  std::uint32_t delay = 0;        // the Info frame's encoder delay
  std::uint32_t padding = 0;      // the Info frame's padding, at least MPEG_DECODER_DELAY
};

// The plan for the decoded samples [first, end) of a source with frames audio frames of
// samples_per_frame each, whose decoded sample 0 is the frames' output sample source_delay (its
// Info frame's delay plus the decoder's, or 0 without one). The delay is as small as a settled
// decoder allows: under 2 frames and 527 samples.
MpegGaplessPlan mpeg_gapless_plan(std::uint64_t first, std::uint64_t end, std::uint64_t source_delay,
                                  std::uint32_t samples_per_frame, std::uint64_t frames);

// Writes PCM bytes [request.start, request.end) of a layer III file (end 0: to the end), whose
// frames index holds, as a gapless track into request.out, which stays open. 0 on success, -1
// after a warning naming request.path and the reason.
int mpeg_write_gapless(const MpegAudioFile& file, const MpegFrameIndex& index, const TrackRequest& request);
