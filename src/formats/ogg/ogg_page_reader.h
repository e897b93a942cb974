// Pages of an Ogg file at places already known (from the index, or from the checking pass),
// read by position a window at a time.
#pragma once

#include <cstdint>
#include <vector>

#include <ogg/ogg.h>

#include "formats/format.h"

class OggPageReader {
 public:
  // Reports to progress, if given, the share of `total_bytes` read so far, each time it reads.
  explicit OggPageReader(int fd, std::uint64_t total_bytes = 0, WriteProgressFunc progress = nullptr,
                         void* user_data = nullptr)
      : fd_(fd), total_bytes_(total_bytes == 0 ? 1 : total_bytes), progress_(progress),
        user_data_(user_data) {}

  // The page of `bytes` bytes at `offset`: page points into the reader's window until the
  // next read. false when the file holds no page of that size there (any more).
  bool read(std::uint64_t offset, std::uint32_t bytes, ogg_page& page);

 private:
  bool fill_window(std::uint64_t offset, std::uint32_t bytes);

  int fd_;
  std::vector<unsigned char> window_;
  std::uint64_t total_bytes_;
  WriteProgressFunc progress_;
  void* user_data_;
  std::uint64_t window_offset_ = 0;
  std::size_t window_bytes_ = 0;
  std::uint64_t read_bytes_ = 0;
};
