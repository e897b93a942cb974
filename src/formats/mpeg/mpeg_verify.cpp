#include "formats/mpeg/mpeg_verify.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "formats/mpeg/mpeg_cutter.h"
#include "formats/mpeg/mpeg_file.h"
#include "formats/track_check.h"
#include "io/read_at.h"

namespace {

// Decoders may round the last bit differently where the stream's samples are the same.
constexpr unsigned GAPLESS_TOLERANCE = 1;

// Reads a file forward by position through a buffer: frames come in file order, a few
// hundred bytes each, and a read of each alone would cost a system call a frame.
class ForwardReader {
 public:
  explicit ForwardReader(int fd) : fd_(fd), buffer_(BUFFER_BYTES) {}

  // bytes [offset, offset + size) of the file (size at most a frame's), shorter where the
  // file ends first.
  std::span<const std::uint8_t> bytes(std::uint64_t offset, std::size_t size) {
    if (offset < start_ || offset + size > start_ + filled_) refill(offset);
    const std::uint64_t from = offset - start_;
    const std::size_t count = from >= filled_ ? 0 : std::min<std::size_t>(size, filled_ - from);
    return std::span<const std::uint8_t>(buffer_).subspan(static_cast<std::size_t>(from), count);
  }

 private:
  static constexpr std::size_t BUFFER_BYTES = 1 << 18;

  void refill(std::uint64_t offset) {
    start_ = offset;
    const std::int64_t got = read_at(fd_, buffer_, offset);
    filled_ = got > 0 ? static_cast<std::size_t>(got) : 0;
  }

  int fd_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t start_ = 0;
  std::size_t filled_ = 0;
};

bool same_bytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size()) == 0;
}

// The track's frames against the source's frames [first, last): the first track frame that
// differs, follows junk, or is missing or left over ends the match.
TrackCheck compare_frames(const MpegAudioFile& source, MpegCutFrames cut, const MpegAudioFile& track) {
  const MpegFrameIndex& source_index = *source.index;
  const MpegFrameIndex& track_index = *track.index;
  const std::uint64_t per_frame = source_index.samples_per_frame;
  const std::size_t wanted = cut.last - cut.first;
  const std::size_t count = std::min(wanted, track_index.frames.size());
  ForwardReader source_bytes(fileno(source.fp.get()));
  ForwardReader track_bytes(fileno(track.fp.get()));
  auto expected = source_index.frames.at(cut.first);
  auto found = track_index.frames.begin();
  std::uint64_t next_offset = count > 0 ? (*found).offset : 0;
  for (std::size_t i = 0; i < count; ++i, ++expected, ++found) {
    const MpegFrame a = *expected;
    const MpegFrame b = *found;
    if (b.offset != next_offset || a.bytes != b.bytes ||
        !same_bytes(source_bytes.bytes(a.offset, a.bytes), track_bytes.bytes(b.offset, b.bytes))) {
      return TrackCheck::differs_at(i * per_frame);
    }
    next_offset = b.offset + b.bytes;
  }
  if (track_index.frames.size() != wanted || track_index.truncated_frame) return TrackCheck::differs_at(count * per_frame);
  return TrackCheck::match();
}

TrackCheck verify_frames(MpegAudioFile& source, const TrackRequest& request, OpenResult opened) {
  if (opened.kind != OpenResult::Kind::Opened) {
    return TrackCheck::failed("it cannot be read back" + (opened.reason.empty() ? "" : ": " + opened.reason));
  }
  AudioFilePtr track = std::move(opened.file);
  track->path = std::string(request.path);
  const auto& mpeg_track = static_cast<const MpegAudioFile&>(*track);
  TrackCheck check = mpeg_track.index && !mpeg_track.index->free_format
                         ? compare_frames(source, mpeg_cut_frames(source, *source.index, request.start, request.end),
                                          mpeg_track)
                         : TrackCheck::failed("its frames cannot be indexed");
  const FormatModule* module = track->module;
  module->close_file(*module, std::move(track));
  return check;
}

}  // namespace

TrackCheck mpeg_verify_track(AudioFile& base, const TrackRequest& request, const std::string& track_path) {
  auto& source = static_cast<MpegAudioFile&>(base);
  // A source whose length the decoder had to count was not indexed when it was opened.
  std::string reason;
  if (!source.index) source.index = mpeg_index_frames(source.fp.get(), static_cast<std::uint64_t>(source.file_size), reason);
  if (!source.index) return TrackCheck::failed("the frames of its source cannot be read: " + reason);
  OpenResult opened = mpeg_open_stream(*source.module, track_path);
  if (mpeg_cuts_gapless(*source.index, request)) {
    return format_verify_decoded(source, request, std::move(opened), GAPLESS_TOLERANCE);
  }
  return verify_frames(source, request, std::move(opened));
}
