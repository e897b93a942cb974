// The checksum of an Ogg page whose header changes while its body stays: worked out from the
// old checksum and the changed header bytes alone, without reading the body again. libogg can
// only checksum a whole page; a cutter that copies pages would pay for every byte twice.
#pragma once

#include <cstdint>
#include <span>

// The page checksum (as the page stores it, computed with the checksum field zeroed) after the
// header `before` became `after`, for a page of page_bytes bytes in all whose old checksum was
// crc. The headers are the same length and hold their checksum fields zeroed or not: those
// four bytes are left out.
std::uint32_t ogg_crc_after_header_change(std::uint32_t crc, std::span<const unsigned char> before,
                                          std::span<const unsigned char> after,
                                          std::uint64_t page_bytes);
