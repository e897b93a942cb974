// The frames of an MPEG audio file, found once and reused for every cut.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

struct MpegFrame {
  std::uint64_t offset = 0;  // file position of the header
  std::uint32_t bytes = 0;
  std::uint16_t bitrate_kbps = 0;
};

// Non-frame bytes between the start of the audio (after an ID3v2 tag) and a frame.
struct MpegGap {
  std::uint64_t offset = 0;
  std::uint64_t bytes = 0;
};

struct MpegFrameIndex {
  std::vector<MpegFrame> frames;  // audio frames in file order; frame i starts at sample i × samples_per_frame
  std::uint32_t samples_per_frame = 0;
  int layer = 0;
  std::vector<MpegGap> gaps;
  std::optional<MpegFrame> info_frame;  // a Xing/Info frame, left out of frames
  bool free_format = false;  // the stream gives no frame lengths: it cannot be indexed
  std::optional<std::uint64_t> truncated_frame;  // a last frame that runs past the end of the file
};

// Indexes the stream in fp (file_size bytes). nullopt when the file cannot be read, with
// the reason in reason.
std::optional<MpegFrameIndex> mpeg_index_frames(std::FILE* fp, std::uint64_t file_size,
                                                std::string& reason);
