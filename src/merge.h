// Joining WAV files of one PCM format into a single new WAV file.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Progress of one merge, owned by the caller and written by the engine on its own thread
// without a lock.
struct MergeStatus {
  std::uint32_t fileCount = 0;
  std::uint32_t fileIndex = 0;  // 1-based input being copied; 0 before the copy starts
  std::string fileName;         // path of the input being copied; empty when done
  double fraction = 0.0;        // progress through the current input's data
  int done = 0;                 // 1 once the output is complete
  // Set to 0 and -1 when a merge starts and left alone after that.
  int reserved_zero = 0;
  int reserved_minus_one = -1;
};

// Writes out_path (which must not exist yet) as one WAV file holding the data of every input
// in order. 0: complete. 1: the inputs differ in format; nothing created. -1: failure already
// reported (a warning or a line on standard output); no output is left behind.
int merge_wav_files(const std::string& out_path, std::span<const std::string> inputs,
                    MergeStatus* status);
