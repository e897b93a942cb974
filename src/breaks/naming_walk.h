// The naming machinery shared by track_break_get_filename and track_break_list_foreach.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "breaks/track_break_list.h"

// The end of the track at position i: the next break's offset, or the list's length.
std::uint64_t track_break_end(const TrackBreakList& list, std::size_t i);

// Names the breaks of one list. Naming positions in ascending order continues the disc walk
// of the previous call instead of starting it again; any other order walks from the start.
// The list must not change while a namer is in use.
class TrackNamer {
 public:
  explicit TrackNamer(const TrackBreakList& list) : list_(list) {}
  std::string name(std::size_t position);

 private:
  struct DiscWalk {
    std::int32_t disc_length = 0;
    std::size_t next = 0;  // position of the next track to place
    std::int32_t disc = 0;
    std::int32_t track = 0;
    std::int32_t remainder = 0;
  };
  std::string plain_name(std::size_t position);
  std::string formatted_name(std::size_t position);
  std::string disc_and_track_name(std::size_t position);

  const TrackBreakList& list_;
  DiscWalk walk_;
};
