// The encoders' and decoders' own command-line tools, run by the tests to check what tfold wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/harness.h"

namespace tfold_test {

struct ToolResult {
  int status = -1;  // 0, 1 when the tool failed, -1 when it could not be started
  std::string out;
  std::string err;
};

// Runs args[0], found on PATH, with the other args, and waits for it.
ToolResult run_tool(const std::vector<std::string>& args);

// The byte offset of frame `index` of a FLAC file as the flac tool's analysis mode finds it;
// "" (after a test failure) when it finds no such frame.
std::string flac_frame_offset(const std::string& path, int index);

// Which samples flac_decoded asks the flac tool for, and how.
struct FlacDecoding {
  std::uint64_t skip = 0;         // the first sample frame (the tool seeks to it)
  std::uint64_t until = 0;        // the frame after the last; 0: to the end
  bool unsigned_samples = false;  // as WAV holds 8-bit samples
};
// Samples of a FLAC file as the flac tool decodes them, little-endian and signed unless asked;
// empty after a test failure when the tool fails.
Bytes flac_decoded(const std::string& track, const TempDir& scratch, const FlacDecoding& how = {});

// The lines of text, without their line ends.
std::vector<std::string> lines_of(const std::string& text);

}  // namespace tfold_test
