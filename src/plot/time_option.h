// Times given on plot's command line, in the forms break lists use.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Blocks of 1/75 second from a TXT list's block count ("20250"), a cue sheet's "M:SS:FF", the
// "M:SS.FF" that list shows, or "M:SS". std::nullopt for anything else, or seconds past 59 or
// frames past 74.
std::optional<std::uint64_t> plot_parse_time(std::string_view text);
