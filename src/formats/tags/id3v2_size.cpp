#include "formats/tags/id3v2_size.h"

#include <cstring>

namespace {

// Sizes are stored 7 bits a byte, so that no byte of the header looks like a frame sync.
std::uint32_t syncsafe28(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0] & 0x7F) << 21 | static_cast<std::uint32_t>(p[1] & 0x7F) << 14 |
         static_cast<std::uint32_t>(p[2] & 0x7F) << 7 | static_cast<std::uint32_t>(p[3] & 0x7F);
}

}  // namespace

std::uint64_t mpeg_id3v2_size(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 10 || std::memcmp(bytes.data(), "ID3", 3) != 0) return 0;
  // Version bytes are never 0xFF and the size bytes are syncsafe: anything else is not a tag.
  if (bytes[3] == 0xFF || bytes[4] == 0xFF) return 0;
  if (((bytes[6] | bytes[7] | bytes[8] | bytes[9]) & 0x80) != 0) return 0;
  const bool footer = (bytes[5] & 0x10) != 0;
  return 10 + std::uint64_t{syncsafe28(bytes.data() + 6)} + (footer ? 10 : 0);
}
