// The levels that tell a gap from music. Measured from the recording itself: its noise floor
// (the lowest level it dwells at, the hiss of a tape, the surface of a record, the zeros of a
// CD) and its music level (the median), so that no medium needs a threshold of its own.
#pragma once

#include <optional>
#include <span>

#include "detect/envelope.h"

struct LevelStatistics {
  double floor_db = 0;  // the noise floor
  double music_db = 0;  // the median level between the first and the last music
};

struct Thresholds {
  double gap_db = 0;    // a gap begins below this level...
  double end_db = 0;    // ...and lasts until the level rises above this one (hysteresis)
  double onset_db = 0;  // where sound begins and ends inside a gap: more sensitive than gap_db
  bool automatic = true;
  // False when the recording has no floor clearly below its music (auto only): then it has no
  // gap at all, for every quiet passage would pass for one.
  bool usable = true;
};

// The statistics of a smoothed envelope; an empty one gives -128 dBFS for both.
LevelStatistics level_statistics(std::span<const LevelCode> smoothed);
// The thresholds for stats: chosen between floor and music when fixed_db is empty, else
// fixed_db as the gap threshold.
Thresholds choose_thresholds(const LevelStatistics& stats, std::optional<double> fixed_db);
