#include "formats/flac/flac_decoder.h"

#include <glib.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <utility>

#include "formats/flac/flac_frame.h"
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
  last_frame_end_ = frames_start_;
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
  read_failed_ = false;
  if (stream_info_.total_samples > 0 && sample >= stream_info_.total_samples) return refuse_seek(sample);
  if (seek_in_library(sample) && landed_in_stream_order(sample)) return true;
  // A read that failed is no damage that another way round would pass.
  if (read_failed_) return refuse_seek(sample);
  problem_.clear();
  return walk_to(sample) || refuse_seek(sample);
}

bool FlacDecoder::seek_in_library(std::uint64_t sample) {
  holding_ = false;
  FLAC__StreamDecoder* decoder = decoder_.get();
  const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder);
  if (state == FLAC__STREAM_DECODER_SEEK_ERROR || state == FLAC__STREAM_DECODER_ABORTED) {
    FLAC__stream_decoder_flush(decoder);
  }
  const bool landed = FLAC__stream_decoder_seek_absolute(decoder, sample) && holding_ && problem_.empty();
  if (FLAC__stream_decoder_get_state(decoder) == FLAC__STREAM_DECODER_SEEK_ERROR) {
    FLAC__stream_decoder_flush(decoder);
  }
  return landed;
}

// libFLAC finds a frame by the number in its header and tells no damage while it seeks: a
// frame whose CRC fails comes as silence, and a damaged stream may hold a frame whose number
// repeats samples of another. The frame it lands in counts only where reading from the
// start would find it too: behind the frame that ends with the sample before it, or first,
// and with its own bytes intact.
bool FlacDecoder::landed_in_stream_order(std::uint64_t sample) {
  HeldFrame landed = std::move(held_);
  if (landed.first != sample || landed.count > landed.whole_count || landed.first + landed.count < landed.whole_count) {
    return false;
  }
  const std::uint64_t own_first = landed.first + landed.count - landed.whole_count;
  std::uint64_t frame_start = frames_start_;
  if (own_first > 0) {
    if (!seek_in_library(own_first - 1) || held_.first != own_first - 1 || held_.count != 1) return false;
    frame_start = held_.byte_end;
  }
  if (frame_ending_at(landed.byte_end) != frame_start) return false;
  held_ = std::move(landed);
  holding_ = true;
  return resume_at(held_.byte_end);
}

// Where the frame that ends at byte `end` of the stream begins: the header closest before it
// from which the bytes up to end are one frame whose CRC-16 matches. nullopt when there is none.
// (Frames in a row pass the CRC-16 of the last one: a frame's own CRC-16 brings the sum to 0.)
std::optional<std::uint64_t> FlacDecoder::frame_ending_at(std::uint64_t end) {
  const std::uint64_t longest = stream_info_.max_framesize > 0 ? stream_info_.max_framesize : longest_frame();
  const std::uint64_t from = end - std::min(end - std::min(end, frames_start_), longest);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(end - from));
  if (!read_stream(from, bytes)) return std::nullopt;
  const std::span<const std::uint8_t> window(bytes);
  for (std::size_t at = window.size() < 2 ? 0 : window.size() - 2; at-- > 0;) {
    if (window[at] == 0xFF && (window[at + 1] & 0xFE) == 0xF8 && whole_frame(window.subspan(at))) return from + at;
  }
  return std::nullopt;
}

// A stream that does not state its longest frame: the longest its blocks allow, stored
// verbatim (a side channel one bit deeper), with the headers.
std::uint64_t FlacDecoder::longest_frame() const {
  const std::uint64_t block = stream_info_.max_blocksize > 0 ? stream_info_.max_blocksize : 65535;
  const std::uint64_t bits = std::uint64_t{stream_info_.channels} * (stream_info_.bits_per_sample + 1);
  return std::min(MAX_FRAME_BYTES, block * bits / 8 + FLAC_MAX_FRAME_HEADER + 2 * FLAC__MAX_CHANNELS + 2);
}

bool FlacDecoder::whole_frame(std::span<const std::uint8_t> frame) {
  constexpr std::size_t CRC16_SIZE = 2;
  if (frame.size() <= CRC16_SIZE || !flac_parse_frame_header(frame)) return false;
  const auto stored = static_cast<std::uint16_t>(frame[frame.size() - 2] << 8 | frame.back());
  return flac_crc16(frame.first(frame.size() - CRC16_SIZE)) == stored;
}

// Bytes of the stream from `from`, to fill bytes. false when they are not all there.
bool FlacDecoder::read_stream(std::uint64_t from, std::span<std::uint8_t> bytes) {
  const std::int64_t got = read_at(fd_, bytes, start_ + from);
  if (got < 0) {
    read_failed_ = true;
    note_problem(std::string("read error: ") + g_strerror(errno));
    return false;
  }
  return static_cast<std::size_t>(got) == bytes.size();
}

// Goes on decoding at byte `at` of the stream, where a frame begins.
bool FlacDecoder::resume_at(std::uint64_t at) {
  if (!FLAC__stream_decoder_flush(decoder_.get())) return false;
  position_ = at;
  last_frame_end_ = at;
  return true;
}

// Decodes from the first frame on up to the one that holds sample: what reading from the
// start gives, whatever the frames' numbers say elsewhere in the stream. Past damage it goes
// on at the next frame that decodes, as a seek would, as long as that frame does not go back
// to samples already passed.
bool FlacDecoder::walk_to(std::uint64_t sample) {
  holding_ = false;
  if (!resume_at(frames_start_)) return false;
  walk_.emplace(sample);
  bool reached = false;
  while (!reached && problem_.empty()) {
    if (FLAC__stream_decoder_get_state(decoder_.get()) == FLAC__STREAM_DECODER_END_OF_STREAM) break;
    if (!FLAC__stream_decoder_process_single(decoder_.get())) break;
    reached = walk_reached();
  }
  if (!reached && problem_.empty() && !walk_->damage.empty()) note_problem(walk_->damage);
  walk_.reset();
  return reached && problem_.empty();
}

bool FlacDecoder::refuse_seek(std::uint64_t sample) {
  if (problem_.empty()) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "cannot seek to sample %" PRIu64 ": the stream is damaged or shorter than it states", sample);
    note_problem(text);
  }
  holding_ = false;
  FLAC__StreamDecoder* decoder = decoder_.get();
  const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(decoder);
  if (state == FLAC__STREAM_DECODER_SEEK_ERROR || state == FLAC__STREAM_DECODER_ABORTED) {
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
    self.read_failed_ = true;
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
  if (self.walk_) return self.walk_frame(decoded, frame->header.channels);
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
  std::string text = self.cut_short() ? "the stream ends inside a frame: the file is truncated"
                                      : error_status_text(status);
  if (self.walk_) {
    if (self.walk_->damage.empty()) self.walk_->damage = self.damage_text(text);
    self.walk_->damage_in_step = true;
    return;
  }
  self.note_problem(std::move(text));
}

// A frame cut short by the end of the file shows as lost sync or a bad frame: the file has
// been read to its end, and what follows the last good frame is less than a whole frame.
bool FlacDecoder::cut_short() const {
  const std::uint64_t max_frame = stream_info_.max_framesize;
  return position_ >= length_ && max_frame > 0 && length_ - last_frame_end_ < max_frame;
}

std::string FlacDecoder::damage_text(const std::string& what) const {
  return "the frame at byte " + std::to_string(next_frame_offset()) + " is damaged: " + what;
}

void FlacDecoder::note_problem(std::string text) {
  // The first reason is the cause; what follows it is mostly its echo.
  if (problem_.empty()) problem_ = std::move(text);
}

std::string FlacDecoder::state_text() const {
  return FLAC__StreamDecoderStateString[FLAC__stream_decoder_get_state(decoder_.get())];
}

void FlacDecoder::hold(const FlacFrame& frame, unsigned channels) {
  held_.channels.resize(channels);
  for (unsigned c = 0; c < channels; ++c) {
    held_.channels[c].assign(frame.channels[c], frame.channels[c] + frame.count);
  }
  held_.first = frame.first;
  held_.count = frame.count;
  held_.whole_count = frame.whole_count;
  held_.byte_end = frame.byte_end;
  holding_ = true;
}

// After damage libFLAC stands in for each frame it could not decode with silence under that
// frame's number, handed out in the same step as the next frame it decodes: a frame held is
// only the one sought once no other frame follows it in its step, and its bytes hold.
FLAC__StreamDecoderWriteStatus FlacDecoder::walk_frame(const FlacFrame& frame, unsigned channels) {
  Walk& walk = *walk_;
  if (std::exchange(walk.held_in_step, false)) holding_ = false;
  const bool after_damage = !walk.damage.empty();
  std::string reason;
  if (after_damage ? frame.first < walk.expected : !flac_frame_begins_at(frame, walk.expected, reason)) {
    note_problem(after_damage ? "a frame behind the damage goes back to sample " + std::to_string(frame.first) : reason);
    return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  }
  const std::uint64_t end = frame.first + frame.count;
  if (end <= walk.target) {
    walk.expected = end;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }
  if (frame.first > walk.target) {
    note_problem(walk.damage);
    return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
  }
  const auto skipped = static_cast<std::uint32_t>(walk.target - frame.first);
  const FLAC__int32* tail[FLAC__MAX_CHANNELS] = {};
  for (unsigned c = 0; c < channels; ++c) tail[c] = frame.channels[c] + skipped;
  hold(FlacFrame{walk.target, frame.count - skipped, tail, frame.whole_count, frame.byte_end}, channels);
  walk.held_in_step = true;
  return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

// Whether the walk has reached its frame with the step just decoded. libFLAC decodes the
// first frame it finds after damage as silence too: where that frame's bytes hold, the walk
// decodes it again from its first byte.
bool FlacDecoder::walk_reached() {
  Walk& walk = *walk_;
  const bool damaged_step = std::exchange(walk.damage_in_step, false);
  if (!std::exchange(walk.held_in_step, false)) return false;
  if (!damaged_step) return true;
  holding_ = false;
  const std::optional<std::uint64_t> start = frame_ending_at(held_.byte_end);
  if (!start || *start < walk.resumed_at) return false;
  walk.expected = held_.first + held_.count - held_.whole_count;
  walk.resumed_at = *start + 1;
  resume_at(*start);
  return false;
}

int FlacDecoder::hand_out_held(const FlacFrameHandler& handler) {
  holding_ = false;
  const FLAC__int32* channels[FLAC__MAX_CHANNELS] = {};
  for (std::size_t c = 0; c < held_.channels.size(); ++c) channels[c] = held_.channels[c].data();
  return handler(FlacFrame{held_.first, held_.count, channels, held_.whole_count, held_.byte_end}) ? 1 : -1;
}

bool flac_frame_begins_at(const FlacFrame& frame, std::uint64_t expected, std::string& reason) {
  if (frame.first == expected) return true;
  reason = "a frame begins at sample " + std::to_string(frame.first) + " instead of " +
           std::to_string(expected);
  return false;
}
