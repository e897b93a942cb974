#include "formats/flac/flac_encoder.h"

#include <FLAC/stream_encoder.h>
#include <glib.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "formats/tags/vorbis_comments.h"

namespace {

constexpr unsigned COMPRESSION_LEVEL = 5;  // what the flac tool uses unless told otherwise
constexpr unsigned SEEK_POINT_SECONDS = 10;
constexpr unsigned PADDING_BYTES = 4096;   // room for tags added later without a rewrite
constexpr double PROGRESS_STEP = 0.01;

struct FlacEncoderDeleter {
  void operator()(FLAC__StreamEncoder* encoder) const noexcept {
    FLAC__stream_encoder_delete(encoder);
  }
};


// One track's encoder writing into the caller's stream.
class TrackEncoder {
 public:
  explicit TrackEncoder(std::FILE* out) : out_(out), encoder_(FLAC__stream_encoder_new()) {}

  bool start(const FlacAudioFile& file, std::uint64_t samples, const TrackTags* tags,
             std::string& reason) {
    FLAC__StreamEncoder* encoder = encoder_.get();
    const off_t base = ftello(out_);
    if (encoder == nullptr || base < 0 || !flac_track_metadata(file, samples, tags, true, metadata_)) {
      reason = "out of memory";
      return false;
    }
    base_ = base;
    const FLAC__StreamMetadata_StreamInfo& info = file.stream_info;
    FLAC__stream_encoder_set_verify(encoder, true);
    FLAC__stream_encoder_set_compression_level(encoder, COMPRESSION_LEVEL);
    FLAC__stream_encoder_set_channels(encoder, info.channels);
    FLAC__stream_encoder_set_bits_per_sample(encoder, info.bits_per_sample);
    FLAC__stream_encoder_set_sample_rate(encoder, info.sample_rate);
    FLAC__stream_encoder_set_total_samples_estimate(encoder, samples);
    FLAC__stream_encoder_set_metadata(encoder, metadata_.blocks.data(),
                                      static_cast<unsigned>(metadata_.blocks.size()));
    const FLAC__StreamEncoderInitStatus status =
        FLAC__stream_encoder_init_stream(encoder, write, seek, tell, nullptr, this);
    if (status == FLAC__STREAM_ENCODER_INIT_STATUS_OK) return true;
    reason = status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR
                 ? state_text()
                 : FLAC__StreamEncoderInitStatusString[status];
    return false;
  }

  // The first `count` samples of the frame.
  bool add(const FlacFrame& frame, std::uint32_t count, std::string& reason) {
    if (FLAC__stream_encoder_process(encoder_.get(), frame.channels, count)) return true;
    reason = state_text();
    return false;
  }

  bool finish(std::string& reason) {
    if (FLAC__stream_encoder_finish(encoder_.get())) return true;
    reason = state_text();
    return false;
  }

 private:
  std::string state_text() const {
    if (write_errno_ != 0) return std::string("write error: ") + g_strerror(write_errno_);
    return FLAC__stream_encoder_get_resolved_state_string(encoder_.get());
  }

  static FLAC__StreamEncoderWriteStatus write(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                              size_t bytes, uint32_t /*samples*/,
                                              uint32_t /*frame*/, void* self_ptr) {
    auto& self = *static_cast<TrackEncoder*>(self_ptr);
    if (std::fwrite(buffer, 1, bytes, self.out_) == bytes) return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    self.write_errno_ = errno != 0 ? errno : EIO;
    return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
  }

  // At the end libFLAC goes back to fill in STREAMINFO's length and signature and the seek
  // points.
  static FLAC__StreamEncoderSeekStatus seek(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                            void* self_ptr) {
    auto& self = *static_cast<TrackEncoder*>(self_ptr);
    if (fseeko(self.out_, self.base_ + static_cast<off_t>(offset), SEEK_SET) == 0) {
      return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    }
    return errno == ESPIPE ? FLAC__STREAM_ENCODER_SEEK_STATUS_UNSUPPORTED
                           : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
  }

  static FLAC__StreamEncoderTellStatus tell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                            void* self_ptr) {
    auto& self = *static_cast<TrackEncoder*>(self_ptr);
    const off_t position = ftello(self.out_);
    if (position < 0) {
      return errno == ESPIPE ? FLAC__STREAM_ENCODER_TELL_STATUS_UNSUPPORTED
                             : FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
    }
    *offset = static_cast<FLAC__uint64>(position - self.base_);
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  }

  FlacTrackMetadata metadata_;
  std::FILE* out_;
  off_t base_ = 0;
  int write_errno_ = 0;
  // Last, so that it goes first: an encoder deleted unfinished still writes and reads its
  // metadata through the members above.
  std::unique_ptr<FLAC__StreamEncoder, FlacEncoderDeleter> encoder_;
};

// Carries the decoded frames of the track into its encoder, reporting progress.
class TrackCopy {
 public:
  TrackCopy(FlacTrack track, TrackEncoder& encoder, WriteProgressFunc progress, void* user_data)
      : track_(track), encoder_(encoder), progress_(progress), user_data_(user_data),
        next_(track.first_sample) {}

  bool take(const FlacFrame& frame) {
    if (!flac_frame_begins_at(frame, next_, reason_)) return false;
    const auto count = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(frame.count, track_.end_sample - next_));
    if (!encoder_.add(frame, count, reason_)) return false;
    next_ += count;
    report();
    return true;
  }

  bool done() const { return next_ >= track_.end_sample; }
  std::uint64_t next() const { return next_; }
  std::string& reason() { return reason_; }

 private:
  void report() {
    const double fraction = static_cast<double>(next_ - track_.first_sample) /
                            static_cast<double>(track_.end_sample - track_.first_sample);
    // 1.0 is the caller's word, once the file is complete.
    if (fraction - reported_ < PROGRESS_STEP || done()) return;
    reported_ = fraction;
    progress_report(progress_, user_data_, fraction);
  }

  FlacTrack track_;
  TrackEncoder& encoder_;
  WriteProgressFunc progress_;
  void* user_data_;
  std::uint64_t next_;
  double reported_ = 0.0;
  std::string reason_;
};


bool copy_samples(const FlacAudioFile& file, const TrackRequest& request, FlacTrack track,
                  TrackEncoder& encoder) {
  // Only a decoding from the first sample to the last lets libFLAC check the MD5 signature.
  const bool whole_stream = track.first_sample == 0 && track.end_sample == file.total_samples;
  FlacDecoder decoder(fileno(file.fp.get()), file.stream_start,
                      static_cast<std::uint64_t>(file.file_size));
  std::string reason;
  // A track that starts at the first sample but ends early would sum its samples for nothing.
  if (!decoder.start(false, reason, whole_stream)) return flac_refuse_track(file, request, reason);
  if (track.first_sample > 0 && !decoder.seek(track.first_sample)) {
    return flac_refuse_track(file, request, decoder.problem());
  }
  TrackCopy copy(track, encoder, request.progress, request.user_data);
  const FlacFrameHandler take = [&copy](const FlacFrame& frame) { return copy.take(frame); };
  while (!copy.done()) {
    const int got = decoder.decode_frame(take);
    if (got > 0) continue;
    if (got == 0) {
      return flac_refuse_track(file, request, "the source ends after sample " + std::to_string(copy.next()) +
                                    " of " + std::to_string(file.total_samples) + ": it is truncated");
    }
    if (!copy.reason().empty()) {
      return flac_refuse_track(file, request, "decoding stops after sample " + std::to_string(copy.next()) + ": " + copy.reason());
    }
    return flac_refuse_track(file, request, "decoding stops at the source's frame at byte " +
                                                std::to_string(decoder.next_frame_offset()) + ": " + decoder.problem());
  }
  if (whole_stream && !decoder.finish()) {
    return flac_refuse_track(file, request, "the source fails its MD5 check: its decoded audio is not what was encoded");
  }
  return true;
}

}  // namespace

bool FlacTrackMetadata::add(FLAC__StreamMetadata* block) {
  if (block == nullptr) return false;
  owned.emplace_back(block);
  blocks.push_back(block);
  return true;
}

bool flac_track_metadata(const FlacAudioFile& file, std::uint64_t samples, const TrackTags* tags,
                         bool seek_table, FlacTrackMetadata& metadata) {
  if (FlacMetadataPtr comment = flac_track_comment(file.vorbis_comment.get(), tags)) {
    metadata.add(comment.release());
  }
  for (const FlacMetadataPtr& picture : file.pictures) {
    if (!metadata.add(FLAC__metadata_object_clone(picture.get()))) return false;
  }
  if (seek_table) {
    FLAC__StreamMetadata* points = FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE);
    if (!metadata.add(points)) return false;
    if (samples > 0 &&
        (!FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
             points, file.stream_info.sample_rate * SEEK_POINT_SECONDS, samples) ||
         !FLAC__metadata_object_seektable_template_sort(points, true))) {
      return false;
    }
  }
  FLAC__StreamMetadata* padding = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING);
  if (!metadata.add(padding)) return false;
  padding->length = PADDING_BYTES;
  return true;
}

FlacMetadataPtr flac_track_comment(const FLAC__StreamMetadata* comment, const TrackTags* tags) {
  if (comment == nullptr && tags == nullptr) return nullptr;
  FlacMetadataPtr copy(comment != nullptr ? FLAC__metadata_object_clone(comment)
                                          : FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
  if (!copy) return nullptr;
  const auto& entries = copy->data.vorbis_comment;
  std::vector<std::string> fields;
  for (std::uint32_t i = 0; i < entries.num_comments; ++i) {
    std::string text(reinterpret_cast<const char*>(entries.comments[i].entry), entries.comments[i].length);
    fields.push_back(std::move(text));
  }
  fields = vorbis_comments_of_part(fields);
  if (tags != nullptr) fields = vorbis_comments_for_track(fields, *tags);
  if (!FLAC__metadata_object_vorbiscomment_resize_comments(copy.get(), 0)) return nullptr;
  // libFLAC writes its own vendor string. Setting it here also has the block's length counted
  // anew: a clone keeps the length the source states, which libFLAC's lenient reading of a
  // damaged block may not match, and emptying a block without comments does not recount it.
  const FLAC__StreamMetadata_VorbisComment_Entry vendor{
      static_cast<FLAC__uint32>(std::strlen(FLAC__VENDOR_STRING)),
      reinterpret_cast<FLAC__byte*>(const_cast<char*>(FLAC__VENDOR_STRING))};
  if (!FLAC__metadata_object_vorbiscomment_set_vendor_string(copy.get(), vendor, true)) return nullptr;
  for (const std::string& field : fields) {
    FLAC__StreamMetadata_VorbisComment_Entry entry{
        static_cast<FLAC__uint32>(field.size()),
        reinterpret_cast<FLAC__byte*>(const_cast<char*>(field.data()))};
    // Copied by libFLAC: the entry only lends it the text.
    if (!FLAC__metadata_object_vorbiscomment_append_comment(copy.get(), entry, true)) return nullptr;
  }
  return copy;
}

int flac_write_track(const FlacAudioFile& file, const TrackRequest& request, FlacTrack track) {
  progress_report(request.progress, request.user_data, 0.0);
  if (file.md5_mismatch) {
    flac_refuse_track(file, request, "the source fails its MD5 check: its decoded audio is not what was encoded");
    return -1;
  }
  if (track.end_sample > file.total_samples || track.first_sample > track.end_sample) {
    flac_refuse_track(file, request, "samples " + std::to_string(track.first_sample) + " to " +
                           std::to_string(track.end_sample) + " lie beyond the end");
    return -1;
  }
  TrackEncoder encoder(request.out);
  std::string reason;
  if (!encoder.start(file, track.end_sample - track.first_sample, request.tags, reason)) {
    flac_refuse_track(file, request, reason);
    return -1;
  }
  if (!copy_samples(file, request, track, encoder)) return -1;
  if (!encoder.finish(reason)) {
    flac_refuse_track(file, request, reason);
    return -1;
  }
  return 0;
}

bool flac_refuse_track(const FlacAudioFile& file, const TrackRequest& request, const std::string& reason) {
  g_warning("Cannot write FLAC track %.*s from %s: %s", static_cast<int>(request.path.size()),
            request.path.data(), file.path.c_str(), reason.c_str());
  return false;
}
