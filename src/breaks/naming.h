// Output names of tracks: the explicit file name of a break, or one made from the list's base
// name and the track's position by the naming options of the settings; or, when the list has
// a name format, one made from its template and the track's metadata.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "breaks/track_break_list.h"

// The output name (without folder and extension) of brk, which must belong to list: made from
// the list's name format when it has one (name_format.h), else the explicit file name or the
// name the four naming options give, which are read at every call.
std::string track_break_get_filename(const TrackBreak& brk, const TrackBreakList& list);

// Visitor of track_break_list_foreach: the break's 0-based index, its write flag, its start
// and end in blocks (end: the next break's offset, or the list's length for the last one),
// its output name (valid only during the call) and the user data handed to foreach.
using TrackBreakFunc = void (*)(std::int32_t index, std::int32_t write, std::uint64_t start,
                                std::uint64_t end, const std::string& name, void* user_data);

// Calls visitor once per break in list order, skipped breaks included, with the output name
// that track_break_get_filename gives. The visitor must not change the list.
void track_break_list_foreach(const TrackBreakList& list, TrackBreakFunc visitor,
                              void* user_data);

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
