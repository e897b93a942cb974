#include "formats/flac/flac_frame_copy.h"

#include <FLAC/stream_encoder.h>
#include <glib.h>
#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/flac/flac_encoder.h"
#include "formats/flac/flac_frame.h"
#include "formats/flac/flac_track_header.h"
#include "io/read_at.h"

namespace {

constexpr unsigned COMPRESSION_LEVEL = 5;  // as the re-encoded tracks
constexpr std::uint32_t MIN_BLOCK = FLAC__MIN_BLOCK_SIZE;
constexpr double PROGRESS_STEP = 0.01;

// The longest block the streamable subset allows at rate: what hardware decoders plan for.
std::uint32_t subset_block(std::uint32_t rate) { return rate <= 48000 ? 4608 : 16384; }

struct EncoderDeleter {
  void operator()(FLAC__StreamEncoder* encoder) const noexcept { FLAC__stream_encoder_delete(encoder); }
};

struct ChecksumFree {
  void operator()(GChecksum* checksum) const noexcept { g_checksum_free(checksum); }
};

std::string write_error(int error) {
  return std::string("write error: ") + g_strerror(error != 0 ? error : EIO);
}

// The frame libFLAC writes for its stream's first and only block.
struct FrameCapture {
  std::vector<std::uint8_t>& frame;

  static FLAC__StreamEncoderWriteStatus write(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                              size_t size, uint32_t samples, uint32_t /*frame*/,
                                              void* self_ptr) {
    auto& self = *static_cast<FrameCapture*>(self_ptr);
    if (samples != 0) self.frame.insert(self.frame.end(), buffer, buffer + size);
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }
};

// Encodes `count` samples of each channel as one frame (of a fixed-blocksize stream, frame 0)
// into frame. false with a reason.
bool encode_frame(const FLAC__StreamMetadata_StreamInfo& info, const FLAC__int32* const* channels,
                  std::uint32_t count, std::vector<std::uint8_t>& frame, std::string& reason) {
  frame.clear();
  FrameCapture capture{frame};
  std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder(FLAC__stream_encoder_new());
  if (!encoder) {
    reason = "out of memory";
    return false;
  }
  FLAC__StreamEncoder* e = encoder.get();
  FLAC__stream_encoder_set_verify(e, true);
  FLAC__stream_encoder_set_compression_level(e, COMPRESSION_LEVEL);
  FLAC__stream_encoder_set_channels(e, info.channels);
  FLAC__stream_encoder_set_bits_per_sample(e, info.bits_per_sample);
  FLAC__stream_encoder_set_sample_rate(e, info.sample_rate);
  FLAC__stream_encoder_set_streamable_subset(e, false);
  // The whole piece is one block; one shorter than the least block size can only be the
  // track's last, which libFLAC writes as the short last block of a longer one.
  FLAC__stream_encoder_set_blocksize(e, std::max(count, MIN_BLOCK));
  FLAC__stream_encoder_set_total_samples_estimate(e, count);
  const FLAC__StreamEncoderInitStatus status =
      FLAC__stream_encoder_init_stream(e, FrameCapture::write, nullptr, nullptr, nullptr, &capture);
  if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    reason = std::string("libFLAC could not start encoding: ") + FLAC__StreamEncoderInitStatusString[status];
    return false;
  }
  if (!FLAC__stream_encoder_process(e, channels, count) || !FLAC__stream_encoder_finish(e)) {
    reason = std::string("libFLAC could not encode the track's edge: ") +
             FLAC__stream_encoder_get_resolved_state_string(e);
    return false;
  }
  return true;
}

// Samples of the track kept for encoding: channels[c] holds channel c.
struct PendingPiece {
  std::vector<std::vector<FLAC__int32>> channels;

  std::uint32_t count() const {
    return channels.empty() ? 0 : static_cast<std::uint32_t>(channels[0].size());
  }
  void append(const FlacFrame& frame, std::uint32_t count, unsigned channel_count) {
    channels.resize(channel_count);
    for (unsigned c = 0; c < channel_count; ++c) {
      channels[c].insert(channels[c].end(), frame.channels[c], frame.channels[c] + count);
    }
  }
  void clear() {
    for (auto& channel : channels) channel.clear();
  }
};

// The MD5 signature of the track's samples, each little-endian in whole bytes and signed, as
// STREAMINFO defines it.
class TrackSignature {
 public:
  TrackSignature(unsigned channels, unsigned bits)
      : checksum_(g_checksum_new(G_CHECKSUM_MD5)), channels_(channels), bytes_((bits + 7) / 8) {}

  void add(const FlacFrame& frame, std::uint32_t count) {
    buffer_.resize(static_cast<std::size_t>(count) * channels_ * bytes_);
    switch (bytes_) {
      case 1: lay_out<1>(frame, count); break;
      case 2: lay_out<2>(frame, count); break;
      case 3: lay_out<3>(frame, count); break;
      default: lay_out<4>(frame, count); break;
    }
    g_checksum_update(checksum_.get(), buffer_.data(), static_cast<gssize>(buffer_.size()));
  }

  void digest(FLAC__byte (&out)[16]) {
    gsize size = 16;
    g_checksum_get_digest(checksum_.get(), out, &size);
  }

 private:
  // A channel at a time: the loop over its samples is the one the compiler makes fast.
  template <unsigned Bytes>
  void lay_out(const FlacFrame& frame, std::uint32_t count) {
    const std::size_t stride = static_cast<std::size_t>(channels_) * Bytes;
    for (unsigned c = 0; c < channels_; ++c) {
      const FLAC__int32* samples = frame.channels[c];
      std::uint8_t* out = buffer_.data() + c * Bytes;
      for (std::uint32_t i = 0; i < count; ++i, out += stride) {
        const auto value = static_cast<std::uint32_t>(samples[i]);
        for (unsigned b = 0; b < Bytes; ++b) out[b] = static_cast<std::uint8_t>(value >> (8 * b));
      }
    }
  }

  std::unique_ptr<GChecksum, ChecksumFree> checksum_;
  unsigned channels_;
  unsigned bytes_;
  std::vector<std::uint8_t> buffer_;
};

// The source's bytes of the frames to copy, read a stretch at a time: the frames come in order.
// A stretch is small enough for the memory of a short track to be that of a long one.
class SourceWindow {
 public:
  SourceWindow(int fd, std::uint64_t stream_start) : fd_(fd), stream_start_(stream_start) {}

  // Bytes [from, to) of the stream, valid until the next call; empty after a read error,
  // with the reason.
  std::span<const std::uint8_t> bytes(std::uint64_t from, std::uint64_t to, std::string& reason) {
    if (from < start_ || to > start_ + filled_) {
      bytes_.resize(static_cast<std::size_t>(std::max<std::uint64_t>(to - from, STRETCH)));
      const std::int64_t got = read_at(fd_, bytes_, stream_start_ + from);
      start_ = from;
      filled_ = got < 0 ? 0 : static_cast<std::uint64_t>(got);
      if (to > start_ + filled_) {
        reason = std::string("read error: ") + g_strerror(got < 0 ? errno : EIO);
        return {};
      }
    }
    return std::span<const std::uint8_t>(bytes_).subspan(static_cast<std::size_t>(from - start_),
                                                         static_cast<std::size_t>(to - from));
  }

 private:
  static constexpr std::uint64_t STRETCH = 256 << 10;

  int fd_;
  std::uint64_t stream_start_;
  std::vector<std::uint8_t> bytes_;
  std::uint64_t start_ = 0;
  std::uint64_t filled_ = 0;
};

// The track's frames as they are written, and what STREAMINFO and the seek table say of them.
class FrameSink {
 public:
  FrameSink(std::FILE* out, const std::vector<std::uint64_t>& seek_targets)
      : out_(out), seek_targets_(seek_targets) {
    held_.reserve(HELD_BYTES);
  }

  bool write(std::span<const std::uint8_t> frame, std::uint32_t count, std::string& reason) {
    if (held_.size() + frame.size() > HELD_BYTES && !flush(reason)) return false;
    held_.insert(held_.end(), frame.begin(), frame.end());
    aim_seek_points(count);
    const auto size = static_cast<std::uint32_t>(frame.size());
    min_frame_ = frames_ == 0 ? size : std::min(min_frame_, size);
    max_frame_ = std::max(max_frame_, size);
    // Only the last block may be shorter than the least: a block counts once one follows it.
    if (frames_ > 0) min_block_ = std::min(min_block_, last_block_);
    max_block_ = std::max(max_block_, count);
    last_block_ = count;
    sample_ += count;
    offset_ += frame.size();
    ++frames_;
    return true;
  }

  // Writes the frames held back. false with a reason.
  bool flush(std::string& reason) {
    const bool written = std::fwrite(held_.data(), 1, held_.size(), out_) == held_.size();
    if (!written) reason = write_error(errno);
    held_.clear();
    return written;
  }

  // The first sample of the next frame.
  std::uint64_t sample() const { return sample_; }
  const std::vector<FLAC__StreamMetadata_SeekPoint>& points() const { return points_; }

  // Block and frame sizes and the total, as STREAMINFO states them.
  void describe(FLAC__StreamMetadata_StreamInfo& info) const {
    // A track of one frame has no block to tell the least size by: the format's least stands.
    info.min_blocksize = frames_ > 1 ? min_block_ : std::max(last_block_, MIN_BLOCK);
    info.max_blocksize = std::max(max_block_, info.min_blocksize);
    info.min_framesize = min_frame_;
    info.max_framesize = max_frame_;
    info.total_samples = sample_;
  }

 private:
  // Each seek target lands on the frame that holds it.
  void aim_seek_points(std::uint32_t count) {
    for (; next_target_ < seek_targets_.size() && seek_targets_[next_target_] < sample_ + count; ++next_target_) {
      if (!points_.empty() && points_.back().sample_number == sample_) continue;
      points_.push_back({sample_, offset_, count});
    }
  }

  // Frames are a few kilobytes each: written one by one, each would cost a system call.
  static constexpr std::size_t HELD_BYTES = 256 << 10;

  std::FILE* out_;
  std::vector<std::uint8_t> held_;
  const std::vector<std::uint64_t>& seek_targets_;
  std::size_t next_target_ = 0;
  std::vector<FLAC__StreamMetadata_SeekPoint> points_;
  std::uint64_t sample_ = 0;
  std::uint64_t offset_ = 0;  // from the first frame
  std::uint64_t frames_ = 0;
  std::uint32_t min_block_ = UINT32_MAX;
  std::uint32_t max_block_ = 0;
  std::uint32_t last_block_ = 0;
  std::uint32_t min_frame_ = 0;
  std::uint32_t max_frame_ = 0;
};

// Walks the source's frames of one track in decoding order: whole ones are copied, the
// samples of partial ones encoded, every sample summed for the signature.
class CopyWalk {
 public:
  CopyWalk(const FlacAudioFile& file, const TrackRequest& request, FlacTrack track, FrameSink& sink)
      : file_(file), request_(request), track_(track), sink_(sink),
        signature_(file.stream_info.channels, file.stream_info.bits_per_sample),
        source_(fileno(file.fp.get()), file.stream_start),
        next_sample_(track.first_sample) {}

  // Sets the decoder to the track's first sample and learns where the first frame to copy
  // begins. false with a reason.
  bool position(FlacDecoder& decoder) {
    next_byte_ = decoder.frames_start();
    if (track_.first_sample == 0) return true;
    bool landed_whole = false;
    const FlacFrameHandler landing = [&](const FlacFrame& frame) {
      landed_whole = frame.count == frame.whole_count;
      return landed_whole || take(frame);
    };
    if (!seek(decoder, track_.first_sample) || decoder.decode_frame(landing) < 0) return fail(decoder);
    if (!landed_whole) return true;
    // The track begins with a whole frame, which is copied: where it begins is where the
    // frame before it ends. The decoding goes on from there.
    const FlacFrameHandler before = [&](const FlacFrame& frame) {
      next_byte_ = frame.byte_end;
      return true;
    };
    if (!seek(decoder, track_.first_sample - 1) || decoder.decode_frame(before) < 0) return fail(decoder);
    return true;
  }

  bool take(const FlacFrame& frame) {
    if (!flac_frame_begins_at(frame, next_sample_, reason_)) return false;
    const std::uint64_t from = next_byte_;
    if (frame.byte_end <= from) {
      reason_ = "the decoder lost the place of a frame at byte " + std::to_string(source_offset(from));
      return false;
    }
    next_byte_ = frame.byte_end;
    const auto count = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(frame.count, track_.end_sample - next_sample_));
    signature_.add(frame, count);
    if (pending_.count() >= MIN_BLOCK && !flush()) return false;
    if (count == frame.whole_count && pending_.count() == 0) {
      if (!copy(from, frame.byte_end, count)) return false;
    } else {
      pending_.append(frame, count, file_.stream_info.channels);
    }
    next_sample_ += count;
    report();
    return true;
  }

  // Encodes what is left and writes every frame. false with a reason.
  bool finish() { return flush() && sink_.flush(reason_); }

  bool done() const { return next_sample_ >= track_.end_sample; }
  std::uint64_t next_sample() const { return next_sample_; }
  // Where the next frame begins in the source file.
  std::uint64_t next_offset() const { return source_offset(next_byte_); }
  const std::string& reason() const { return reason_; }
  void digest(FLAC__byte (&out)[16]) { signature_.digest(out); }

 private:
  std::uint64_t source_offset(std::uint64_t in_stream) const { return file_.stream_start + in_stream; }

  bool seek(FlacDecoder& decoder, std::uint64_t sample) {
    if (decoder.seek(sample)) return true;
    reason_ = decoder.problem();
    return false;
  }

  bool fail(const FlacDecoder& decoder) {
    if (reason_.empty()) reason_ = decoder.problem();
    return false;
  }

  bool copy(std::uint64_t from, std::uint64_t to, std::uint32_t count) {
    const std::span<const std::uint8_t> source = source_.bytes(from, to, reason_);
    if (source.empty()) return false;
    if (!flac_rewrite_frame(source, sink_.sample(), frame_)) {
      reason_ = "no frame header at byte " + std::to_string(source_offset(from)) + " where the decoder found one";
      return false;
    }
    return sink_.write(frame_, count, reason_);
  }

  // The pending samples as frames the streamable subset allows, of equal length.
  bool flush() {
    const std::uint32_t total = pending_.count();
    if (total == 0) return true;
    const std::uint32_t limit = subset_block(file_.stream_info.sample_rate);
    const std::uint32_t pieces = (total + limit - 1) / limit;
    std::array<const FLAC__int32*, FLAC__MAX_CHANNELS> channels{};
    std::uint32_t done = 0;
    for (std::uint32_t k = 0; k < pieces; ++k) {
      const std::uint32_t count = total / pieces + (k < total % pieces ? 1 : 0);
      for (std::size_t c = 0; c < pending_.channels.size(); ++c) channels[c] = pending_.channels[c].data() + done;
      if (!encode_frame(file_.stream_info, channels.data(), count, encoded_, reason_)) return false;
      if (!flac_rewrite_frame(encoded_, sink_.sample(), frame_)) {
        reason_ = "libFLAC wrote no frame for the track's edge";
        return false;
      }
      if (!sink_.write(frame_, count, reason_)) return false;
      done += count;
    }
    pending_.clear();
    return true;
  }

  void report() {
    const double fraction = static_cast<double>(next_sample_ - track_.first_sample) /
                            static_cast<double>(track_.end_sample - track_.first_sample);
    // 1.0 is the caller's word, once the file is complete.
    if (fraction - reported_ < PROGRESS_STEP || done()) return;
    reported_ = fraction;
    progress_report(request_.progress, request_.user_data, fraction);
  }

  const FlacAudioFile& file_;
  const TrackRequest& request_;
  FlacTrack track_;
  FrameSink& sink_;
  TrackSignature signature_;
  SourceWindow source_;
  PendingPiece pending_;
  std::uint64_t next_sample_;
  std::uint64_t next_byte_ = 0;  // where the next frame begins, from the start of the stream
  std::vector<std::uint8_t> encoded_;
  std::vector<std::uint8_t> frame_;
  double reported_ = 0.0;
  std::string reason_;
};


int fail_track(const FlacAudioFile& file, const TrackRequest& request, const std::string& reason) {
  flac_refuse_track(file, request, reason);
  return -1;
}

const char* const MD5_MISMATCH = "the source fails its MD5 check: its decoded audio is not what was encoded";

// Decodes the track's frames through walk. false after a warning.
bool walk_frames(const FlacAudioFile& file, const TrackRequest& request, FlacDecoder& decoder, CopyWalk& walk) {
  std::string reason;
  // The signature is the track's own, summed here: libFLAC's would be the whole source's.
  if (!decoder.start(false, reason, false)) return flac_refuse_track(file, request, reason);
  if (!walk.position(decoder)) return flac_refuse_track(file, request, walk.reason());
  const FlacFrameHandler take = [&walk](const FlacFrame& frame) { return walk.take(frame); };
  while (!walk.done()) {
    const int got = decoder.decode_frame(take);
    if (got > 0) continue;
    if (got == 0) {
      return flac_refuse_track(file, request, "the source ends after sample " + std::to_string(walk.next_sample()) +
                                    " of " + std::to_string(file.total_samples) + ": it is truncated");
    }
    if (!walk.reason().empty()) return flac_refuse_track(file, request, walk.reason());
    return flac_refuse_track(file, request, "decoding stops at the source's frame at byte " +
                                     std::to_string(walk.next_offset()) + ": " + decoder.problem());
  }
  return walk.finish() || flac_refuse_track(file, request, walk.reason());
}

// STREAMINFO of the written track.
FLAC__StreamMetadata_StreamInfo track_info(const FlacAudioFile& file, const FrameSink& sink, CopyWalk& walk) {
  FLAC__StreamMetadata_StreamInfo info = file.stream_info;
  sink.describe(info);
  walk.digest(info.md5sum);
  return info;
}

// A track of the whole source has the source's signature, unless the source lies about its audio.
bool matches_source(const FlacAudioFile& file, const FlacTrack& track, const FLAC__StreamMetadata_StreamInfo& info) {
  if (track.first_sample != 0 || track.end_sample != file.total_samples) return true;
  const FLAC__byte(&stated)[16] = file.stream_info.md5sum;
  if (std::all_of(std::begin(stated), std::end(stated), [](FLAC__byte b) { return b == 0; })) return true;
  return std::equal(std::begin(stated), std::end(stated), std::begin(info.md5sum));
}

// Writes header's bytes at base and returns to the end of the track.
bool rewrite_header(std::FILE* out, off_t base, const FlacTrackHeader& header, std::string& reason) {
  const std::vector<std::uint8_t>& bytes = header.bytes();
  if (fseeko(out, base, SEEK_SET) != 0 || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
      fseeko(out, 0, SEEK_END) != 0) {
    reason = write_error(errno);
    return false;
  }
  return true;
}

// Why the track cannot be written from file at all, or nullopt.
std::optional<std::string> refusal(const FlacAudioFile& file, FlacTrack track) {
  if (file.md5_mismatch) return MD5_MISMATCH;
  if (track.end_sample <= file.total_samples && track.first_sample <= track.end_sample) return std::nullopt;
  return "samples " + std::to_string(track.first_sample) + " to " + std::to_string(track.end_sample) +
         " lie beyond the end";
}

// Lays out the track's header and writes it where the track begins, at *base. false with a reason.
bool begin_track(const FlacAudioFile& file, const TrackRequest& request, FlacTrack track,
                 FlacTrackHeader& header, off_t& base, std::string& reason) {
  base = ftello(request.out);
  if (base < 0) {
    reason = write_error(errno);
    return false;
  }
  if (!header.build(file, track.end_sample - track.first_sample, request.tags, reason)) return false;
  const std::vector<std::uint8_t>& bytes = header.bytes();
  if (std::fwrite(bytes.data(), 1, bytes.size(), request.out) == bytes.size()) return true;
  reason = write_error(errno);
  return false;
}

}  // namespace

int flac_copy_track(const FlacAudioFile& file, const TrackRequest& request, FlacTrack track) {
  // An empty track has no frame to copy.
  if (track.first_sample == track.end_sample) return flac_write_track(file, request, track);
  progress_report(request.progress, request.user_data, 0.0);
  if (const std::optional<std::string> reason = refusal(file, track)) return fail_track(file, request, *reason);
  FlacTrackHeader header;
  off_t base = 0;
  std::string reason;
  if (!begin_track(file, request, track, header, base, reason)) return fail_track(file, request, reason);
  FrameSink sink(request.out, header.seek_targets());
  CopyWalk walk(file, request, track, sink);
  FlacDecoder decoder(fileno(file.fp.get()), file.stream_start, static_cast<std::uint64_t>(file.file_size));
  if (!walk_frames(file, request, decoder, walk)) return -1;
  const FLAC__StreamMetadata_StreamInfo info = track_info(file, sink, walk);
  if (!matches_source(file, track, info)) return fail_track(file, request, MD5_MISMATCH);
  header.complete(info, sink.points());
  if (!rewrite_header(request.out, base, header, reason)) return fail_track(file, request, reason);
  return 0;
}
