// CUE sheets on arbitrary bytes, through the reader split uses (which falls back to the TXT
// reader for a file that is no cue sheet), then naming the list and writing it back as a cue
// sheet, which must give the same offsets.
#include <cstddef>
#include <cstdint>

#include "breaks/break_file.h"
#include "fuzz_support.h"

using namespace tfold_fuzz;

namespace {

// Cue sheet times hold 32-bit block counts; larger offsets can only come from the TXT fallback.
bool fits_cue_times(const TrackBreakList& list) {
  return list.breaks.empty() || list.breaks.back().offset <= 0xFFFFFFFFu;
}

void check_round_trip(const TrackBreakList& list) {
  const std::string out = scratch_dir() + "/out.cue";
  FUZZ_CHECK(track_break_list_write_cue(out, "audio.wav", list) == 1);
  TrackBreakListPtr again = track_break_list_new(list.basename);
  track_break_list_set_length(*again, NO_END);
  FUZZ_CHECK(track_break_list_read_cue(out, *again) == 1);
  FUZZ_CHECK(offsets_of(*again) == offsets_of(list));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  quiet_glib_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = write_input("input.cue", data, size);
  TrackBreakListPtr list = track_break_list_new("fuzz");
  track_break_list_set_length(*list, NO_END);
  if (track_break_list_read(path, *list) == 0) return 0;
  name_every_break(*list);
  if (fits_cue_times(*list)) check_round_trip(*list);
  return 0;
}
