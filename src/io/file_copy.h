// The one copy loop of the program: the bytes of a WAV or CD audio track, the frames of an
// MPEG track and the data of every merged WAV file all go from file to file through here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "io/progress.h"

// Where a copy reports its progress: fractions of total, counting done_before bytes as done.
struct CopyProgress {
  WriteProgressFunc report = nullptr;
  void* user_data = nullptr;
  std::uint64_t done_before = 0;
  std::uint64_t total = 0;  // 0: no reports
};

// How a copy ended: the bytes that reached the output, and the errno of a read of the source
// or of a write to the output that failed (0 when none did).
struct CopyResult {
  std::uint64_t copied = 0;
  int read_error = 0;
  std::uint64_t read_error_at = 0;  // the source's byte offset where the read that failed began
  int write_error = 0;
};

// Copies length bytes of source_fd from offset to out's position and leaves out behind them.
// The source is read without its descriptor's position, which stays untouched, so another
// thread may read the same file meanwhile. Fewer bytes arrive only when the source ends first
// or an error (stated in the result) stops the copy; a failure to flush out is a write error.
CopyResult copy_bytes(int source_fd, std::uint64_t offset, std::uint64_t length,
                             std::FILE* out, const CopyProgress& progress);

// true when the copy met no error; otherwise false after a warning that names the file that
// failed (the source, or out_path for the output) and the system's reason.
bool copy_succeeded(const CopyResult& result, std::string_view source_path,
                           std::string_view out_path);

