// Time codes: positions in blocks (75 per second) as minutes, seconds and frames.
#pragma once

#include <cstdint>
#include <string>

// "%d:%02d.%02d" as shown to the user, or "%d:%02d:%02d" with cue_style, as CUE and TOC
// files carry it. Minutes are printed as a signed 32-bit number.
std::string format_time_code(std::uint64_t blocks, bool cue_style);
// minutes * 4500 + seconds * 75 + frames in signed 32-bit arithmetic, read with scanf's
// "%d:%d:%d" (no range checks, trailing text ignored); 0 unless all three numbers are read.
std::int32_t parse_time_code(const char* text);
