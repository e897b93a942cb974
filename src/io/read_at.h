// The one positioned read of the program.
#pragma once

#include <cstdint>
#include <span>

// Reads up to buffer.size() bytes of fd from offset without using or moving the descriptor's
// position, so that threads reading one file never disturb each other. The bytes read (fewer
// only at the end of the file or after an error), or -1 (errno set) when an error came before
// any byte.
std::int64_t read_at(int fd, std::span<std::uint8_t> buffer, std::uint64_t offset);
