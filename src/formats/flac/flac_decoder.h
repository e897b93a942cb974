// A libFLAC stream decoder over the FLAC stream inside an opened file. It reads the file's
// descriptor with pread, so several decoders (the reader, the track writers) share one open
// file without moving each other's position.
#pragma once

#include <FLAC/metadata.h>
#include <FLAC/stream_decoder.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct FlacDecoderDeleter {
  void operator()(FLAC__StreamDecoder* decoder) const noexcept {
    FLAC__stream_decoder_delete(decoder);
  }
};

struct FlacMetadataDeleter {
  void operator()(FLAC__StreamMetadata* block) const noexcept {
    FLAC__metadata_object_delete(block);
  }
};
using FlacMetadataPtr = std::unique_ptr<FLAC__StreamMetadata, FlacMetadataDeleter>;

// One decoded frame: channels[c][i] for i < count is sample first + i of channel c, at the
// stream's own bit depth.
struct FlacFrame {
  std::uint64_t first = 0;
  std::uint32_t count = 0;
  const FLAC__int32* const* channels = nullptr;
  // The frame's own block size: more than count when a seek handed out only its end.
  std::uint32_t whole_count = 0;
  // Where the frame's bytes end, from the start of the stream ("fLaC").
  std::uint64_t byte_end = 0;
};

// true when frame begins at sample expected, the sample after the last one taken; otherwise
// false with the reason in reason. A frame elsewhere means the stream's frame numbers skip or
// repeat samples.
bool flac_frame_begins_at(const FlacFrame& frame, std::uint64_t expected, std::string& reason);

// Takes each frame as it is decoded; false stops the decoding as a failure.
using FlacFrameHandler = std::function<bool(const FlacFrame& frame)>;

class FlacDecoder {
 public:
  // The stream occupies [stream_start, stream_end) of the descriptor; the descriptor stays
  // the caller's and must outlive the decoder.
  FlacDecoder(int fd, std::uint64_t stream_start, std::uint64_t stream_end);
  FlacDecoder(const FlacDecoder&) = delete;
  FlacDecoder& operator=(const FlacDecoder&) = delete;

  // Reads the metadata up to the first frame. keep_metadata: also keep copies of the
  // VORBIS_COMMENT and PICTURE blocks. check_md5: sum the decoded samples for finish(), for a
  // decoding that may go from the first sample to the last. false with a reason when it is no
  // usable FLAC stream.
  bool start(bool keep_metadata, std::string& reason, bool check_md5 = true);

  const FLAC__StreamMetadata_StreamInfo& stream_info() const { return stream_info_; }
  // The VORBIS_COMMENT block, or nullptr; the PICTURE blocks in stream order.
  const FLAC__StreamMetadata* vorbis_comment() const { return vorbis_comment_.get(); }
  const std::vector<FlacMetadataPtr>& pictures() const { return pictures_; }
  // Whether the metadata holds a SEEKTABLE block (told when keep_metadata was asked for).
  bool has_seek_table() const { return has_seek_table_; }
  // Where the first frame begins, from the start of the stream; known once started.
  std::uint64_t frames_start() const { return frames_start_; }
  // Moves the kept blocks out (the decoder keeps none afterwards).
  FlacMetadataPtr take_vorbis_comment() { return std::move(vorbis_comment_); }
  std::vector<FlacMetadataPtr> take_pictures() { return std::move(pictures_); }

  // Decodes the next frame and hands it to handler. 1 after a frame, 0 at the end of the
  // stream, -1 when decoding failed (problem() tells why).
  int decode_frame(const FlacFrameHandler& handler);
  // Positions the decoder so that the next frame it hands out begins with sample `sample`,
  // taken from the frame that decoding from the first frame on finds it in, also in a damaged
  // stream. false (problem() tells why) when the position cannot be reached; the decoder is
  // then usable again for another seek.
  bool seek(std::uint64_t sample);
  // Ends the stream; false when the decoder checked the MD5 signature (only a decoding from
  // the first sample to the end without a seek does) and it did not match.
  bool finish();

  // Why the last decoding step failed, in words; empty when nothing failed.
  const std::string& problem() const { return problem_; }
  // Where the frame after the last one decoded begins, from the start of the file: where
  // damage that stops the decoding lies.
  std::uint64_t next_frame_offset() const { return start_ + last_frame_end_; }

 private:
  static FLAC__StreamDecoderReadStatus read(const FLAC__StreamDecoder*, FLAC__byte buffer[],
                                            size_t* bytes, void* self);
  static FLAC__StreamDecoderSeekStatus seek_to(const FLAC__StreamDecoder*,
                                               FLAC__uint64 offset, void* self);
  static FLAC__StreamDecoderTellStatus tell(const FLAC__StreamDecoder*, FLAC__uint64* offset,
                                            void* self);
  static FLAC__StreamDecoderLengthStatus length(const FLAC__StreamDecoder*,
                                                FLAC__uint64* length, void* self);
  static FLAC__bool at_end(const FLAC__StreamDecoder*, void* self);
  static FLAC__StreamDecoderWriteStatus write(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                              const FLAC__int32* const buffer[], void* self);
  static void metadata(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* block, void* self);
  static void error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* self);

  struct HeldFrame {
    std::vector<std::vector<FLAC__int32>> channels;
    std::uint64_t first = 0;
    std::uint32_t count = 0;
    std::uint32_t whole_count = 0;
    std::uint64_t byte_end = 0;
  };
  // A decoding from the first frame that stops at the frame holding target.
  struct Walk {
    explicit Walk(std::uint64_t target_sample) : target(target_sample) {}

    std::uint64_t target;
    std::uint64_t expected = 0;  // where the next frame must begin, or past damage may begin
    std::string damage;          // the first damage passed, in words; empty before any
    bool held_in_step = false;   // the step being decoded has held a frame that holds target
    bool damage_in_step = false;  // and met damage
    std::uint64_t resumed_at = 0;  // where the walk last went back to decode a frame again, + 1
  };
  // A frame of more than this is no frame of the format (65535 samples of 8 channels of 32
  // bits, verbatim, with its headers).
  static constexpr std::uint64_t MAX_FRAME_BYTES = std::uint64_t{1} << 24;

  bool seek_in_library(std::uint64_t sample);
  bool landed_in_stream_order(std::uint64_t sample);
  std::optional<std::uint64_t> frame_ending_at(std::uint64_t end);
  std::uint64_t longest_frame() const;
  static bool whole_frame(std::span<const std::uint8_t> frame);
  bool read_stream(std::uint64_t from, std::span<std::uint8_t> bytes);
  bool resume_at(std::uint64_t at);
  bool walk_to(std::uint64_t sample);
  bool refuse_seek(std::uint64_t sample);
  FLAC__StreamDecoderWriteStatus walk_frame(const FlacFrame& frame, unsigned channels);
  bool walk_reached();
  std::string damage_text(const std::string& what) const;
  void note_problem(std::string text);
  bool cut_short() const;
  void hold(const FlacFrame& frame, unsigned channels);
  int hand_out_held(const FlacFrameHandler& handler);
  std::string state_text() const;

  int fd_;
  std::uint64_t start_;
  std::uint64_t length_;
  std::uint64_t position_ = 0;  // within the stream
  std::uint64_t last_frame_end_ = 0;  // where the last frame handed out ends, within the stream
  bool keep_metadata_ = false;
  bool have_stream_info_ = false;
  bool has_seek_table_ = false;
  std::uint64_t frames_start_ = 0;
  FLAC__StreamMetadata_StreamInfo stream_info_{};
  FlacMetadataPtr vorbis_comment_;
  std::vector<FlacMetadataPtr> pictures_;
  const FlacFrameHandler* handler_ = nullptr;  // set while a frame is decoded
  bool frame_taken_ = false;
  // A seek decodes the frame it lands in outside decode_frame: held here for the next call.
  HeldFrame held_;
  bool holding_ = false;
  std::optional<Walk> walk_;
  bool read_failed_ = false;
  bool handler_failed_ = false;
  std::string problem_;
  // Last, so that it goes first: its callbacks use the members above.
  std::unique_ptr<FLAC__StreamDecoder, FlacDecoderDeleter> decoder_;
};
