// The length of an ID3v2 tag, read from its header: MPEG and FLAC files may begin with such tags.
#pragma once

#include <cstdint>
#include <span>

// Bytes of the ID3v2 tag at the start of bytes (header, body and footer), or 0 when there is
// none. Needs the first 10 bytes.
std::uint64_t mpeg_id3v2_size(std::span<const std::uint8_t> bytes);
