// Copies between files inside the kernel: the bytes go from the source's page cache to the
// output's without a trip through our memory.
#pragma once

#include <sys/types.h>

#include <cstdint>

// Copies up to length bytes from in_fd at in_offset to out_fd, at *out_offset (advanced by
// the bytes written) or, when out_offset is null, at out_fd's own position. Returns the
// bytes written: length, or fewer at the end of the source or wherever the kernel declines
// (a copy through user space then carries on from there and meets any real error itself).
std::uint64_t copy_in_kernel(int in_fd, std::uint64_t in_offset, int out_fd, off_t* out_offset,
                                    std::uint64_t length);

// Sets aside the disk space of length bytes from offset of out_fd without changing its size,
// where the file system can: a copy that then fills it allocates nothing page by page.
// Nothing happens where it cannot.
void reserve_space(int out_fd, std::uint64_t offset, std::uint64_t length);
// Gives back the space set aside beyond the end of out_fd, after a copy that ended early.
void release_reserved_space(int out_fd);
