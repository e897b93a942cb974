// The TXT break-list reader on arbitrary bytes, then naming the list it gives and writing it
// back: a list the program wrote must read back as the same list.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <limits>

#include "breaks/break_file.h"
#include "breaks/txt.h"
#include "fuzz_support.h"

using namespace tfold_fuzz;

namespace {

// Offsets above the largest signed value come from negative numbers in the file; they are
// written as the unsigned values they became, which read back clamped. Lines past the reader's
// buffer are refused on reading, so lists with very long names cannot come back either; nor
// can a name's final carriage return, which the reader takes for part of a CRLF line end, nor
// a name's control bytes, which no written name keeps.
bool can_come_back(const TrackBreakList& list) {
  for (const TrackBreak& brk : list.breaks) {
    if (brk.filename && std::any_of(brk.filename->begin(), brk.filename->end(), [](char c) {
          return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        })) {
      return false;
    }
    if (brk.offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return false;
    if (brk.filename && brk.filename->size() > 1000) return false;
    if (brk.filename && brk.filename->ends_with('\r')) return false;
  }
  return true;
}

void check_round_trip(const TrackBreakList& list) {
  const std::string out = scratch_dir() + "/out.txt";
  FUZZ_CHECK(track_break_list_write_txt(out, "audio.wav", list) == 1);
  TrackBreakListPtr again = track_break_list_new(list.basename);
  track_break_list_set_length(*again, NO_END);
  FUZZ_CHECK(track_break_list_read_txt(out, *again) == 1);
  FUZZ_CHECK(again->breaks.size() == list.breaks.size());
  for (std::size_t i = 0; i < list.breaks.size(); ++i) {
    FUZZ_CHECK(again->breaks[i].offset == list.breaks[i].offset);
    FUZZ_CHECK(again->breaks[i].write == list.breaks[i].write);
    FUZZ_CHECK(again->breaks[i].filename == list.breaks[i].filename);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  quiet_glib_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = write_input("input.txt", data, size);
  TrackBreakListPtr list = track_break_list_new("fuzz");
  track_break_list_set_length(*list, NO_END);
  const int result = read_list_in_bounded_memory(path, size, *list, track_break_list_read_txt);
  check_metadata_read(data, size, path, result, *list);
  if (result == 0) return 0;
  name_every_break(*list);
  if (can_come_back(*list)) check_round_trip(*list);
  return 0;
}
