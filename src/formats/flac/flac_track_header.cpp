#include "formats/flac/flac_track_header.h"

#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <memory>

#include "formats/flac/flac_encoder.h"
#include "io/byte_order.h"

namespace {

constexpr std::size_t SIGNATURE_SIZE = 4;  // "fLaC"
constexpr std::size_t BLOCK_HEADER_SIZE = 4;
constexpr std::size_t STREAM_INFO_AT = SIGNATURE_SIZE + BLOCK_HEADER_SIZE;
constexpr std::size_t SEEK_POINT_SIZE = 18;

struct EncoderDeleter {
  void operator()(FLAC__StreamEncoder* encoder) const noexcept { FLAC__stream_encoder_delete(encoder); }
};

// What libFLAC writes before its first frame.
struct MetadataCapture {
  std::vector<std::uint8_t> bytes;

  static FLAC__StreamEncoderWriteStatus write(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                              size_t size, uint32_t samples, uint32_t /*frame*/,
                                              void* self_ptr) {
    auto& self = *static_cast<MetadataCapture*>(self_ptr);
    if (samples == 0) self.bytes.insert(self.bytes.end(), buffer, buffer + size);
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  }
};

// Where the data of the first block of `type` begins, or 0.
std::size_t find_block(std::span<const std::uint8_t> bytes, unsigned type) {
  for (std::size_t at = SIGNATURE_SIZE; at + BLOCK_HEADER_SIZE <= bytes.size();) {
    const std::uint64_t length = read_be(&bytes[at + 1], 3);
    if ((bytes[at] & 0x7F) == type) return at + BLOCK_HEADER_SIZE;
    if (bytes[at] & 0x80) break;
    at += BLOCK_HEADER_SIZE + length;
  }
  return 0;
}

}  // namespace

void flac_put_stream_info(const FLAC__StreamMetadata_StreamInfo& info, std::span<std::uint8_t, 34> out) {
  write_be(&out[0], info.min_blocksize, 2);
  write_be(&out[2], info.max_blocksize, 2);
  write_be(&out[4], info.min_framesize, 3);
  write_be(&out[7], info.max_framesize, 3);
  const std::uint64_t format = std::uint64_t{info.sample_rate} << 44 |
                               std::uint64_t{info.channels - 1} << 41 |
                               std::uint64_t{info.bits_per_sample - 1} << 36 |
                               (info.total_samples & ((std::uint64_t{1} << 36) - 1));
  write_be(&out[10], format, 8);
  std::copy_n(info.md5sum, 16, &out[18]);
}

void flac_put_seek_point(const FLAC__StreamMetadata_SeekPoint& point, std::span<std::uint8_t, 18> out) {
  write_be(&out[0], point.sample_number, 8);
  write_be(&out[8], point.stream_offset, 8);
  write_be(&out[16], point.frame_samples, 2);
}

bool FlacTrackHeader::build(const FlacAudioFile& file, std::uint64_t samples, const TrackTags* tags,
                            std::string& reason) {
  FlacTrackMetadata metadata;
  MetadataCapture capture;
  // After the capture and the blocks, so that it goes first: deleting it may still write.
  std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder(FLAC__stream_encoder_new());
  if (!encoder || !flac_track_metadata(file, samples, tags, file.has_seek_table, metadata)) {
    reason = "out of memory";
    return false;
  }
  const FLAC__StreamMetadata_StreamInfo& info = file.stream_info;
  FLAC__stream_encoder_set_channels(encoder.get(), info.channels);
  FLAC__stream_encoder_set_bits_per_sample(encoder.get(), info.bits_per_sample);
  FLAC__stream_encoder_set_sample_rate(encoder.get(), info.sample_rate);
  FLAC__stream_encoder_set_streamable_subset(encoder.get(), false);
  FLAC__stream_encoder_set_metadata(encoder.get(), metadata.blocks.data(),
                                    static_cast<unsigned>(metadata.blocks.size()));
  // The metadata is written as the encoder starts; no frame follows.
  const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
      encoder.get(), MetadataCapture::write, nullptr, nullptr, nullptr, &capture);
  if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK || capture.bytes.size() < STREAM_INFO_AT + 34) {
    reason = std::string("libFLAC could not lay out the metadata: ") + FLAC__StreamEncoderInitStatusString[status];
    return false;
  }
  bytes_ = capture.bytes;
  seek_table_at_ = find_block(bytes_, FLAC__METADATA_TYPE_SEEKTABLE);
  for (const FLAC__StreamMetadata* block : metadata.blocks) {
    if (block->type != FLAC__METADATA_TYPE_SEEKTABLE) continue;
    for (std::uint32_t i = 0; i < block->data.seek_table.num_points; ++i) {
      seek_targets_.push_back(block->data.seek_table.points[i].sample_number);
    }
  }
  return true;
}

void FlacTrackHeader::complete(const FLAC__StreamMetadata_StreamInfo& info,
                               std::span<const FLAC__StreamMetadata_SeekPoint> points) {
  flac_put_stream_info(info, std::span<std::uint8_t, 34>(&bytes_[STREAM_INFO_AT], 34));
  if (seek_table_at_ == 0) return;
  for (std::size_t i = 0; i < seek_targets_.size(); ++i) {
    const std::size_t at = seek_table_at_ + i * SEEK_POINT_SIZE;
    if (at + SEEK_POINT_SIZE > bytes_.size()) return;
    const FLAC__StreamMetadata_SeekPoint placeholder{FLAC__STREAM_METADATA_SEEKPOINT_PLACEHOLDER, 0, 0};
    flac_put_seek_point(i < points.size() ? points[i] : placeholder,
                        std::span<std::uint8_t, SEEK_POINT_SIZE>(&bytes_[at], SEEK_POINT_SIZE));
  }
}
