// CUE sheets on arbitrary bytes, through the reader split uses (which falls back to the TXT
// reader for a file that is no cue sheet), then naming the list and writing it back as a
// cue sheet, which must give the same offsets; and read with their metadata, through the
// charset decoding, the name templates and the tag forms.
#include <cstddef>
#include <cstdint>

#include "breaks/break_file.h"
#include "breaks/cue.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  tfold_fuzz::quiet_glib_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tfold_fuzz::fuzz_time_coded_list(data, size, "input.cue", track_break_list_write_cue,
                                   track_break_list_read_cue);
  return 0;
}
