// The record of an opened FLAC file, shared by the module and its track encoder.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/flac/flac_decoder.h"
#include "formats/format.h"

struct FlacAudioFile final : AudioFile {
  std::uint64_t stream_start = 0;   // file position of "fLaC", past any ID3v2 tags
  std::uint64_t total_samples = 0;  // as STREAMINFO states it, else as decoding measured it
  FLAC__StreamMetadata_StreamInfo stream_info{};
  FlacMetadataPtr vorbis_comment;   // nullptr when the stream has none
  std::vector<FlacMetadataPtr> pictures;
  bool has_seek_table = false;

  // The reader of read_data: its decoder, and the PCM of the last frame it decoded.
  std::unique_ptr<FlacDecoder> reader;
  std::vector<std::uint8_t> frame_pcm;
  std::uint64_t frame_pcm_offset = 0;  // PCM byte offset of frame_pcm[0]
  std::uint64_t next_sample = 0;       // the reader's next frame begins here
  bool read_from_start = false;        // no seek since the reader began at sample 0
  // Where decoding broke off (damage, a cut), once it has been reported: a read that goes on
  // from there fails without telling it again.
  std::uint64_t broken_from = UINT64_MAX;
  // Set when a decoding from the first sample to the last found that the audio does not
  // match the stream's MD5 signature; no track is written from such a file.
  std::atomic<bool> md5_mismatch{false};
};
