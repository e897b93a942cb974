// TOC files on arbitrary bytes, through the reader split uses (which falls back to the TXT
// reader for a file that is no TOC file), then naming the list and writing it back as a
// TOC file, which must give the same offsets.
#include <cstddef>
#include <cstdint>

#include "breaks/break_file.h"
#include "breaks/toc.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  tfold_fuzz::quiet_glib_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tfold_fuzz::fuzz_time_coded_list(data, size, "input.toc", track_break_list_write_toc,
                                   track_break_list_read_toc);
  return 0;
}
