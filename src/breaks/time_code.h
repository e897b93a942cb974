// Time codes: positions in blocks (75 per second) as minutes, seconds and frames.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// "%d:%02d.%02d" as shown to the user, or "%d:%02d:%02d" with cue_style, as CUE and TOC
// files carry it. Minutes are printed as a signed 32-bit number.
std::string format_time_code(std::uint64_t blocks, bool cue_style);
// minutes * 4500 + seconds * 75 + frames in signed 32-bit arithmetic, read with scanf's
// "%d:%d:%d" (no range checks, trailing text ignored); 0 unless all three numbers are read.
std::int32_t parse_time_code(const char* text);
// Whether word is a run of ASCII digits (not empty).
bool time_code_is_digits(std::string_view word);
// Whether word has the shape of a time code as cue sheets and TOC files write it: three
// unsigned numbers separated by colons (their ranges are not checked).
bool time_code_is_well_formed(std::string_view word);
