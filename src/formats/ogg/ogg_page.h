// Where an Ogg page header keeps its fields. libogg reads and writes pages itself; these are
// for the cutter, which rewrites the headers of pages it copies, and for the readers that
// find pages at known places.
#pragma once

#include <cstddef>

inline constexpr std::size_t OGG_PAGE_HEADER_BYTES = 27;  // before the segment table
// The fixed part, then a segment table of at most 255 entries.
inline constexpr std::size_t OGG_MAX_PAGE_HEADER_BYTES = OGG_PAGE_HEADER_BYTES + 255;
inline constexpr std::size_t OGG_FLAGS_AT = 5;
inline constexpr std::size_t OGG_GRANULE_AT = 6;
inline constexpr std::size_t OGG_SERIAL_AT = 14;
inline constexpr std::size_t OGG_SEQUENCE_AT = 18;
inline constexpr std::size_t OGG_CHECKSUM_AT = 22;
inline constexpr std::size_t OGG_SEGMENT_COUNT_AT = 26;
inline constexpr unsigned char OGG_CONTINUED_FLAG = 0x01;
