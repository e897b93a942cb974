// Owners of the libogg and libvorbis states that the index and the cutter read streams with.
#pragma once

#include <cstdint>

#include <ogg/ogg.h>
#include <vorbis/codec.h>

// A Vorbis stream begins with three header packets: identification, comments and setup.
inline constexpr std::uint64_t VORBIS_HEADER_PACKETS = 3;

// Owns one libogg stream state: ogg_stream_init on construction, ogg_stream_clear at the end.
class OggStream {
 public:
  explicit OggStream(std::uint32_t serial) {
    ogg_stream_init(&state_, static_cast<int>(serial));
    // A fresh stream takes its first page for a continuation of nothing, not for a gap.
    ogg_stream_reset_serialno(&state_, static_cast<int>(serial));
  }
  OggStream(const OggStream&) = delete;
  OggStream& operator=(const OggStream&) = delete;
  ~OggStream() { ogg_stream_clear(&state_); }

  ogg_stream_state* get() { return &state_; }

 private:
  ogg_stream_state state_{};
};

// What libvorbis reads from a stream's headers: the block sizes that vorbis_packet_blocksize
// needs, and the comments. Owns the vorbis_info and vorbis_comment it fills.
class VorbisHeaders {
 public:
  VorbisHeaders() {
    vorbis_info_init(&info_);
    vorbis_comment_init(&comment_);
  }
  VorbisHeaders(const VorbisHeaders&) = delete;
  VorbisHeaders& operator=(const VorbisHeaders&) = delete;
  ~VorbisHeaders() {
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
  }

  // The stream's next header packet; false when it is no valid one.
  bool add(ogg_packet& packet) { return vorbis_synthesis_headerin(&info_, &comment_, &packet) == 0; }
  long blocksize(ogg_packet& packet) { return vorbis_packet_blocksize(&info_, &packet); }
  const vorbis_comment& comment() const { return comment_; }

 private:
  vorbis_info info_{};
  vorbis_comment comment_{};
};
