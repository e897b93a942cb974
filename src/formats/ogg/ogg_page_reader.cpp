#include "formats/ogg/ogg_page_reader.h"

#include "formats/ogg/ogg_page.h"
#include "io/read_at.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace {

constexpr std::size_t WINDOW_BYTES = 256 << 10;

}  // namespace

bool OggPageReader::read(std::uint64_t offset, std::uint32_t bytes, ogg_page& page) {
  if (offset < window_offset_ || offset + bytes > window_offset_ + window_bytes_) {
    if (!fill_window(offset, bytes)) return false;
  }
  unsigned char* start = window_.data() + (offset - window_offset_);
  if (bytes < OGG_PAGE_HEADER_BYTES || std::memcmp(start, "OggS", 4) != 0) return false;
  const std::size_t header_bytes = OGG_PAGE_HEADER_BYTES + start[OGG_SEGMENT_COUNT_AT];
  if (header_bytes > bytes) return false;
  page.header = start;
  page.header_len = static_cast<long>(header_bytes);
  page.body = start + header_bytes;
  page.body_len = static_cast<long>(bytes - header_bytes);
  read_bytes_ += bytes;
  return true;
}

bool OggPageReader::fill_window(std::uint64_t offset, std::uint32_t bytes) {
  if (read_bytes_ > 0) {
    progress_report(progress_, user_data_,
                    std::min(1.0, static_cast<double>(read_bytes_) / static_cast<double>(total_bytes_)));
  }
  window_.resize(std::max<std::size_t>({window_.size(), WINDOW_BYTES, bytes}));
  window_offset_ = offset;
  const std::int64_t got = read_at(fd_, std::span(window_.data(), window_.size()), offset);
  window_bytes_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  return window_bytes_ >= bytes;
}
