// The table rows in which list and split show a break list.
#pragma once

#include <cstdint>
#include <string>

// A TrackBreakFunc: prints one numbered row (1-based) with the [x]/[_] write flag, start,
// end ("(end)" for NO_END), quoted output name and duration on standard output. user_data
// is ignored.
void print_break_row(std::int32_t index, std::int32_t write, std::uint64_t start,
                     std::uint64_t end, const std::string& name, void* user_data);
