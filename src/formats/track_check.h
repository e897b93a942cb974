// Tracks read back and compared with their range of the source: the shared part of the
// modules' verify_track.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "formats/format.h"

// The first sample frame at which a and b, PCM of layout si (8-bit unsigned, wider signed,
// little-endian), differ by more than tolerance steps of the least significant bit in any
// channel; where the common part agrees and one is longer, the frame at the end of the
// shorter. nullopt when they hold the same samples within tolerance.
std::optional<std::uint64_t> pcm_first_difference(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b,
                                                  const SampleInfo& si, unsigned tolerance);

// Decodes source's PCM bytes [start, end) (end 0 or past the audio: to its end) and the whole
// of track, the two side by side on two threads, and compares them sample by sample within
// tolerance. track must have the source's rate, channels and sample size.
TrackCheck format_compare_decoded(AudioFile& source, std::uint64_t start, std::uint64_t end, AudioFile& track,
                                  unsigned tolerance);

// The common form of verify_track: opened is what the module's opener made of the track;
// the track is compared with request's range of source (format_compare_decoded), named by
// request.path in the module's messages, and closed. own_check, when given, runs on the track
// still open once its samples have matched: a check the format carries itself.
using TrackOwnCheck = std::function<TrackCheck(AudioFile& track)>;
TrackCheck format_verify_decoded(AudioFile& source, const TrackRequest& request, OpenResult opened,
                                 unsigned tolerance = 0, const TrackOwnCheck& own_check = {});
