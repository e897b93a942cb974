// The track breaks of a recording, found from its envelope: thresholds from its own levels,
// its gaps ranked, the best set of them chosen under the minimum track length, each break
// placed inside its gap.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "detect/envelope.h"
#include "detect/placement.h"
#include "detect/threshold.h"

struct DetectSettings {
  std::optional<double> threshold_db;  // empty: automatic
  double min_gap_seconds = 1.0;
  double min_track_seconds = 20.0;
  Placement placement = Placement::onset;
  std::optional<std::size_t> breaks;   // exactly this many breaks, when there are
};

struct DetectedBreak {
  std::uint64_t block = 0;       // where the next track begins
  std::uint64_t gap_start = 0;   // the gap it lies in, in blocks
  std::uint64_t gap_length = 0;
  double depth_db = 0;
  double confidence = 0;
};

struct Detection {
  LevelStatistics levels;
  Thresholds thresholds;
  std::uint64_t length = 0;       // blocks, as a break list of the recording counts them
  std::size_t candidates = 0;     // gaps that could be breaks
  std::vector<DetectedBreak> breaks;
};

// Seconds as whole blocks of 1/75 second, rounded to the nearest.
std::uint64_t seconds_to_blocks(double seconds);
Detection detect_breaks(const Envelope& envelope, const DetectSettings& settings);
