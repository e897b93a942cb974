#include "formats/mpeg/mpeg_index.h"

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>

#include "formats/format.h"
#include "formats/mpeg/mpeg_frame.h"
#include "formats/tags/id3v2_size.h"
#include "io/read_at.h"

namespace {

constexpr std::size_t CHUNK_BYTES = 1 << 20;

// Forward-moving window on a file, read in large chunks.
class ChunkReader {
 public:
  ChunkReader(std::FILE* fp, std::uint64_t file_size) : fp_(fp), file_size_(file_size) {}

  // Up to count bytes at offset; fewer only at the end of the file or after a read error.
  std::span<const std::uint8_t> at(std::uint64_t offset, std::size_t count) {
    if (offset >= file_size_) return {};
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, file_size_ - offset));
    if (offset < start_ || offset + count > start_ + buffer_.size()) fill(offset);
    const std::size_t from = static_cast<std::size_t>(offset - start_);
    const std::size_t available = buffer_.size() > from ? buffer_.size() - from : 0;
    return {buffer_.data() + from, std::min(count, available)};
  }
  // The buffered bytes from offset on (at least one unless at the end of the file).
  std::span<const std::uint8_t> rest(std::uint64_t offset) {
    if (offset >= file_size_) return {};
    if (offset < start_ || offset >= start_ + buffer_.size()) fill(offset);
    const std::size_t from = static_cast<std::size_t>(offset - start_);
    if (from >= buffer_.size()) return {};
    return std::span<const std::uint8_t>(buffer_).subspan(from);
  }
  bool failed() const { return failed_; }

 private:
  void fill(std::uint64_t offset) {
    start_ = offset;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(CHUNK_BYTES, file_size_ - offset));
    buffer_.resize(wanted);
    const std::int64_t read = read_at(fileno(fp_), buffer_, offset);
    const std::size_t got = read < 0 ? 0 : static_cast<std::size_t>(read);
    if (got != wanted) failed_ = true;
    buffer_.resize(got);
  }

  std::FILE* fp_;
  std::uint64_t file_size_;
  std::uint64_t start_ = 0;
  std::vector<std::uint8_t> buffer_;
  bool failed_ = false;
};

std::uint64_t audio_start(ChunkReader& reader, std::uint64_t file_size) {
  std::uint64_t pos = 0;
  // Taggers sometimes stack tags; each one declares its own size, and its body (pictures
  // included) is never searched for frames.
  while (pos < file_size) {
    const std::uint64_t tag = mpeg_id3v2_size(reader.at(pos, 10));
    if (tag == 0) break;
    pos += tag;
  }
  return std::min(pos, file_size);
}

std::uint64_t audio_end(ChunkReader& reader, std::uint64_t file_size, std::uint64_t start) {
  const std::uint64_t probe = std::min<std::uint64_t>(MPEG_TRAILER_PROBE, file_size);
  const std::uint64_t trailer = mpeg_trailer_size(reader.at(file_size - probe, probe));
  return file_size - std::min(trailer, file_size - start);
}

class Indexer {
 public:
  Indexer(std::FILE* fp, std::uint64_t file_size) : reader_(fp, file_size) {
    start_ = audio_start(reader_, file_size);
    end_ = audio_end(reader_, file_size, start_);
  }

  MpegFrameIndex run() {
    std::uint64_t pos = start_;
    gap_start_ = pos;
    bool saw_free_format = false;
    while (pos + 4 <= end_ && !reader_.failed()) {
      const auto header = mpeg_parse_frame_header(reader_.at(pos, 4));
      if (!header || (stream_ && !header->same_stream(*stream_))) {
        pos = next_sync_candidate(pos + 1);
        continue;
      }
      if (header->free_format()) {
        saw_free_format = true;
        // A stream that starts with a free-format header is one; elsewhere it is a stray pattern.
        if (pos == start_ && !stream_) break;
        ++pos;
        continue;
      }
      const bool contiguous = stream_ && pos == gap_start_;
      const std::uint64_t next = pos + header->frame_bytes;
      if (next > end_) {
        if (contiguous) index_.truncated_frame = pos;
        if (contiguous) break;
        ++pos;
        continue;
      }
      if (!contiguous && !confirmed_by_next(*header, next)) {
        ++pos;
        continue;
      }
      accept(*header, pos);
      pos = next;
    }
    if (index_.frames.empty() && saw_free_format) index_.free_format = true;
    return std::move(index_);
  }

  bool failed() const { return reader_.failed(); }

 private:
  // Junk can be long (a damaged file); only a 0xFF byte can start a header.
  std::uint64_t next_sync_candidate(std::uint64_t pos) {
    while (pos < end_) {
      auto window = reader_.rest(pos);
      if (window.empty()) return end_;
      window = window.first(static_cast<std::size_t>(std::min<std::uint64_t>(window.size(), end_ - pos)));
      const void* sync = std::memchr(window.data(), 0xFF, window.size());
      if (sync != nullptr) return pos + static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(sync) - window.data());
      pos += window.size();
    }
    return end_;
  }

  // A header counts when the next frame's header follows where it says, or when its frame
  // ends the audio exactly.
  bool confirmed_by_next(const MpegFrameHeader& header, std::uint64_t next) {
    if (next == end_) return true;
    if (next + 4 > end_) return false;
    const auto following = mpeg_parse_frame_header(reader_.at(next, 4));
    return following && !following->free_format() && following->same_stream(header);
  }

  void accept(const MpegFrameHeader& header, std::uint64_t pos) {
    if (gap_start_ < pos) index_.gaps.push_back({gap_start_, pos - gap_start_});
    gap_start_ = pos + header.frame_bytes;
    const bool first = !stream_;
    stream_ = header;
    if (first) {
      index_.samples_per_frame = header.samples;
      index_.layer = header.layer;
      const auto frame = reader_.at(pos, header.frame_bytes);
      if (mpeg_is_info_frame(header, frame)) {
        index_.info_frame = MpegFrame{pos, header.frame_bytes, static_cast<std::uint16_t>(header.bitrate_kbps)};
        index_.info_frame_count = mpeg_info_frame_count(header, frame);
        return;
      }
    }
    index_.frames.push_back({pos, header.frame_bytes, static_cast<std::uint16_t>(header.bitrate_kbps)});
  }

  ChunkReader reader_;
  std::uint64_t start_ = 0;
  std::uint64_t end_ = 0;
  std::uint64_t gap_start_ = 0;  // where the next frame is expected
  std::optional<MpegFrameHeader> stream_;
  MpegFrameIndex index_;
};

}  // namespace

MpegFrameList::Iterator::Iterator(const MpegFrameList* list, std::size_t index)
    : list_(list), index_(index) {
  if (index >= list->size()) return;
  const auto& anchors = list->anchors_;
  // The last anchor at or before index: the first frame is always one.
  const auto after = std::upper_bound(anchors.begin(), anchors.end(), index,
                                      [](std::size_t i, const Anchor& a) { return i < a.frame; });
  const auto& anchor = *(after - 1);
  offset_ = anchor.offset;
  for (std::size_t i = anchor.frame; i < index; ++i) offset_ += list->length_of(i);
  next_anchor_ = static_cast<std::size_t>(after - anchors.begin());
}

MpegFrameList::Iterator& MpegFrameList::Iterator::operator++() {
  offset_ += list_->length_of(index_);
  ++index_;
  const auto& anchors = list_->anchors_;
  if (next_anchor_ < anchors.size() && anchors[next_anchor_].frame == index_) {
    offset_ = anchors[next_anchor_].offset;
    ++next_anchor_;
  }
  return *this;
}

void MpegFrameList::push_back(const MpegFrame& frame) {
  constexpr std::size_t ANCHOR_EVERY = 64;
  if (bytes_.size() % ANCHOR_EVERY == 0 || frame.offset != next_offset_) {
    anchors_.push_back({bytes_.size(), frame.offset});
  }
  bytes_.push_back(static_cast<std::uint16_t>((frame.bytes & LENGTH_MASK) | rate_place(frame.bitrate_kbps) << RATE_SHIFT));
  next_offset_ = frame.offset + frame.bytes;
}

std::uint16_t MpegFrameList::rate_place(std::uint16_t kbps) {
  const auto known = std::find(rates_.begin(), rates_.end(), kbps);
  if (known != rates_.end()) return static_cast<std::uint16_t>(known - rates_.begin());
  if (rates_.size() == RATE_PLACES) return 0;
  rates_.push_back(kbps);
  return static_cast<std::uint16_t>(rates_.size() - 1);
}

MpegFrame MpegFrameList::frame_at(std::size_t i, std::uint64_t offset) const {
  return {offset, length_of(i), rates_[bytes_[i] >> RATE_SHIFT]};
}

std::optional<MpegFrameIndex> mpeg_index_frames(std::FILE* fp, std::uint64_t file_size,
                                                std::string& reason) {
  Indexer indexer(fp, file_size);
  MpegFrameIndex index = indexer.run();
  if (indexer.failed()) {
    reason = std::strerror(errno != 0 ? errno : EIO);
    return std::nullopt;
  }
  return index;
}

bool mpeg_frame_runs(const MpegFrameList& frames, std::size_t first, std::size_t last,
                     const MpegFrameRunHandler& take) {
  auto frame = frames.at(first);
  std::size_t i = first;
  while (i < last) {
    MpegFrameRun run{(*frame).offset, (*frame).bytes, 0};
    for (++frame, ++i; i < last && (*frame).offset == run.offset + run.bytes; ++frame, ++i) {
      run.bytes += (*frame).bytes;
    }
    if (i < last) run.gap_after = (*frame).offset - (run.offset + run.bytes);
    if (!take(run)) return false;
  }
  return true;
}
