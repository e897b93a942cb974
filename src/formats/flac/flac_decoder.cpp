#include "formats/flac/flac_decoder.h"

#include <glib.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>

#include "io/read_at.h"

static_assert(sizeof(off_t) >= 8, "FLAC streams are read at 64-bit offsets");

namespace {

std::string error_status_text(FLAC__StreamDecoderErrorStatus status) {
  switch (status) {
    case FLAC__STREAM_DECODER_ERROR_STATUS_LOST_SYNC: return "lost sync";
    case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_HEADER: return "bad frame header";
    case FLAC__STREAM_DECODER_ERROR_STATUS_FRAME_CRC_MISMATCH: return "frame CRC mismatch";
    case FLAC__STREAM_DECODER_ERROR_STATUS_UNPARSEABLE_STREAM: return "unsupported stream";
    case FLAC__STREAM_DECODER_ERROR_STATUS_BAD_METADATA: return "bad metadata block";
  }
  return FLAC__StreamDecoderErrorStatusString[status];
}

std::uint64_t first_sample(const FLAC__Frame& frame, const FLAC__StreamMetadata_StreamInfo& info) {
  if (frame.header.number_type == FLAC__FRAME_NUMBER_TYPE_SAMPLE_NUMBER) {
    return frame.header.number.sample_number;
  }
  return static_cast<std::uint64_t>(frame.header.number.frame_number) * info.min_blocksize;
}

}  // namespace

FlacDecoder::FlacDecoder(int fd, std::uint64_t stream_start, std::uint64_t stream_end)
    : fd_(fd),
      start_(stream_start),
      length_(stream_end > stream_start ? stream_end - stream_start : 0),
      decoder_(FLAC__stream_decoder_new()) {}

bool FlacDecoder::start(bool keep_metadata, std::string& reason, bool check_md5) {
  FLAC__StreamDecoder* decoder = decoder_.get();
  if (decoder == nullptr) {
    reason = "libFLAC could not create a decoder";
    return false;
  }
  keep_metadata_ = keep_metadata;
  if (keep_metadata) {
    FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_VORBIS_COMMENT);
    FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_PICTURE);
    FLAC__stream_decoder_set_metadata_respond(decoder, FLAC__METADATA_TYPE_SEEKTABLE);
  }
  // libFLAC sums every frame it decodes from the first sample on, until a seek, and compares
  // the sum only once it has reached the end.
  FLAC__stream_decoder_set_md5_checking(decoder, check_md5);
  const FLAC__StreamDecoderInitStatus status = FLAC__stream_decoder_init_stream(
      decoder, read, seek_to, tell, length, at_end, write, metadata, error, this);
  if (status != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
    reason = std::string("libFLAC could not start decoding: ") +
             FLAC__StreamDecoderInitStatusString[status];
    return false;
  }
  const bool read_ok = FLAC__stream_decoder_process_until_end_of_metadata(decoder);
  if (!problem_.empty()) {
    reason = problem_;
    return false;
  }
  if (!read_ok || !have_stream_info_) {
    reason = "no FLAC stream information (" + state_text() + ")";
    return false;
  }
  FLAC__uint64 frames_start = 0;
  if (FLAC__stream_decoder_get_decode_position(decoder, &frames_start)) frames_start_ = frames_start;
  return true;
}

int FlacDecoder::decode_frame(const FlacFrameHandler& handler) {
  problem_.clear();
  if (holding_) return hand_out_held(handler);
  for (;;) {
    if (FLAC__stream_decoder_get_state(decoder_.get()) == FLAC__STREAM_DECODER_END_OF_STREAM) {
      return 0;
    }
    handler_ = &handler;
    frame_taken_ = false;
    handler_failed_ = false;
    const bool ok = FLAC__stream_decoder_process_single(decoder_.get());
    handler_ = nullptr;
    if (!problem_.empty() || handler_failed_) return -1;
    if (!ok) {
      note_problem(state_text());
      return -1;
    }
    if (frame_taken_) return 1;
  }
}

bool FlacDecoder::seek(std::uint64_t sample) {
  problem_.clear();
  holding_ = false;
  FLAC__StreamDecoder* decoder = decoder_.get();
  const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder);
  if (state == FLAC__STREAM_DECODER_SEEK_ERROR || state == FLAC__STREAM_DECODER_ABORTED) {
    FLAC__stream_decoder_flush(decoder);
  }
  if (FLAC__stream_decoder_seek_absolute(decoder, sample) && holding_ && problem_.empty()) {
    return true;
  }
  if (problem_.empty()) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "cannot seek to sample %" PRIu64 ": the stream is damaged or shorter than it states", sample);
    note_problem(text);
  }
  holding_ = false;
  if (FLAC__stream_decoder_get_state(decoder) == FLAC__STREAM_DECODER_SEEK_ERROR) {
    FLAC__stream_decoder_flush(decoder);
  }
  return false;
}

bool FlacDecoder::finish() { return FLAC__stream_decoder_finish(decoder_.get()); }

FLAC__StreamDecoderReadStatus FlacDecoder::read(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                                size_t* bytes, void* self_ptr) {
  auto& self = *static_cast<FlacDecoder*>(self_ptr);
  const std::uint64_t left = self.length_ - std::min(self.position_, self.length_);
  const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(*bytes, left));
  *bytes = 0;
  if (wanted == 0) return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
  const std::int64_t got = read_at(self.fd_, std::span(buffer, wanted), self.start_ + self.position_);
  if (got < 0) {
    self.note_problem(std::string("read error: ") + g_strerror(errno));
    return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
  }
  // The file is shorter than when it was opened.
  if (got == 0) return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
  self.position_ += static_cast<std::uint64_t>(got);
  *bytes = static_cast<std::size_t>(got);
  return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
}

FLAC__StreamDecoderSeekStatus FlacDecoder::seek_to(const FLAC__StreamDecoder*, FLAC__uint64 offset,
                                                   void* self_ptr) {
  auto& self = *static_cast<FlacDecoder*>(self_ptr);
  if (offset > self.length_) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
  self.position_ = offset;
  return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
}

FLAC__StreamDecoderTellStatus FlacDecoder::tell(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                                void* self_ptr) {
  *offset = static_cast<FlacDecoder*>(self_ptr)->position_;
  return FLAC__STREAM_DECODER_TELL_STATUS_OK;
}

FLAC__StreamDecoderLengthStatus FlacDecoder::length(const FLAC__StreamDecoder*,
                                                    FLAC__uint64* length, void* self_ptr) {
  *length = static_cast<FlacDecoder*>(self_ptr)->length_;
  return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
}

FLAC__bool FlacDecoder::at_end(const FLAC__StreamDecoder*, void* self_ptr) {
  const auto& self = *static_cast<FlacDecoder*>(self_ptr);
  return self.position_ >= self.length_;
}

FLAC__StreamDecoderWriteStatus FlacDecoder::write(const FLAC__StreamDecoder*,
                                                  const FLAC__Frame* frame,
                                                  const FLAC__int32* const buffer[], void* self_ptr) {
  auto& self = *static_cast<FlacDecoder*>(self_ptr);
  // A frame whose CRC failed comes as silence; it must not pass for audio.
  if (!self.problem_.empty()) return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  // Every consumer lays samples out by the stream's format; a frame that changes it would be
  // read as something else.
  if (frame->header.channels != self.stream_info_.channels ||
      frame->header.bits_per_sample != self.stream_info_.bits_per_sample) {
    self.note_problem("a frame's format differs from the stream information");
    return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  }
  FLAC__uint64 frame_end = 0;
  if (FLAC__stream_decoder_get_decode_position(self.decoder_.get(), &frame_end)) {
    self.last_frame_end_ = frame_end;
  }
  // The decoder's block size stays the frame's own where a seek hands out only its end.
  const FlacFrame decoded{first_sample(*frame, self.stream_info_), frame->header.blocksize, buffer,
                          FLAC__stream_decoder_get_blocksize(self.decoder_.get()), self.last_frame_end_};
  if (self.handler_ == nullptr) {
    self.hold(decoded, frame->header.channels);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  self.frame_taken_ = true;
  if (!(*self.handler_)(decoded)) {
    self.handler_failed_ = true;
    return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  }
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void FlacDecoder::metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block,
                           void* self_ptr) {
  auto& self = *static_cast<FlacDecoder*>(self_ptr);
  switch (block->type) {
    case FLAC__METADATA_TYPE_STREAMINFO:
      self.stream_info_ = block->data.stream_info;
      self.have_stream_info_ = true;
      break;
    case FLAC__METADATA_TYPE_VORBIS_COMMENT:
      // A second comment block breaks the format's rules; the first one counts.
      if (self.keep_metadata_ && !self.vorbis_comment_) {
        self.vorbis_comment_.reset(FLAC__metadata_object_clone(block));
      }
      break;
    case FLAC__METADATA_TYPE_PICTURE:
      if (self.keep_metadata_) self.pictures_.emplace_back(FLAC__metadata_object_clone(block));
      break;
    case FLAC__METADATA_TYPE_SEEKTABLE:
      self.has_seek_table_ = true;
      break;
    default: break;
  }
}

void FlacDecoder::error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status,
                        void* self_ptr) {
  auto& self = *static_cast<FlacDecoder*>(self_ptr);
  self.note_problem(self.cut_short() ? "the stream ends inside a frame: the file is truncated"
                                     : error_status_text(status));
}

// A frame cut short by the end of the file shows as lost sync or a bad frame: the file has
// been read to its end, and what follows the last good frame is less than a whole frame.
bool FlacDecoder::cut_short() const {
  const std::uint64_t max_frame = stream_info_.max_framesize;
  return position_ >= length_ && max_frame > 0 && length_ - last_frame_end_ < max_frame;
}

void FlacDecoder::note_problem(std::string text) {
  // The first reason is the cause; what follows it is mostly its echo.
  if (problem_.empty()) problem_ = std::move(text);
}

std::string FlacDecoder::state_text() const {
  return FLAC__StreamDecoderStateString[FLAC__stream_decoder_get_state(decoder_.get())];
}

void FlacDecoder::hold(const FlacFrame& frame, unsigned channels) {
  held_.resize(channels);
  for (unsigned c = 0; c < channels; ++c) {
    held_[c].assign(frame.channels[c], frame.channels[c] + frame.count);
  }
  held_first_ = frame.first;
  held_count_ = frame.count;
  held_whole_count_ = frame.whole_count;
  held_byte_end_ = frame.byte_end;
  holding_ = true;
}

int FlacDecoder::hand_out_held(const FlacFrameHandler& handler) {
  holding_ = false;
  const FLAC__int32* channels[FLAC__MAX_CHANNELS] = {};
  for (std::size_t c = 0; c < held_.size(); ++c) channels[c] = held_[c].data();
  return handler(FlacFrame{held_first_, held_count_, channels, held_whole_count_, held_byte_end_}) ? 1 : -1;
}

bool flac_frame_begins_at(const FlacFrame& frame, std::uint64_t expected, std::string& reason) {
  if (frame.first == expected) return true;
  reason = "a frame begins at sample " + std::to_string(frame.first) + " instead of " +
           std::to_string(expected);
  return false;
}
