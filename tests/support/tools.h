// The encoders' and decoders' own command-line tools, run by the tests to check what tfold wrote.
#pragma once

#include <string>
#include <vector>

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

// The lines of text, without their line ends.
std::vector<std::string> lines_of(const std::string& text);

}  // namespace tfold_test
