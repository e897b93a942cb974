// The frames of an MPEG audio file, found once and reused for every cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

struct MpegFrame {
  std::uint64_t offset = 0;  // file position of the header
  std::uint32_t bytes = 0;
  std::uint16_t bitrate_kbps = 0;
};

// The frames of a stream in file order, kept in little more than two bytes a frame (an hour
// holds some 140,000 frames): the length of each with its bit rate, and the position of every
// 64th frame and of every frame that does not directly follow the one before it.
class MpegFrameList {
  struct Anchor {
    std::size_t frame = 0;
    std::uint64_t offset = 0;
  };

 public:
  // Reads the frames in order from a position on, one step at a time.
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = MpegFrame;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = MpegFrame;

    Iterator() = default;
    MpegFrame operator*() const { return list_->frame_at(index_, offset_); }
    Iterator& operator++();
    Iterator operator++(int) {
      Iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const Iterator& other) const { return index_ == other.index_; }

   private:
    friend class MpegFrameList;
    Iterator(const MpegFrameList* list, std::size_t index);

    const MpegFrameList* list_ = nullptr;
    std::size_t index_ = 0;
    std::uint64_t offset_ = 0;
    std::size_t next_anchor_ = 0;  // the first anchor after index_
  };

  // Frames come in file order; a frame is at most 4095 bytes (MPEG's longest are 2881).
  void push_back(const MpegFrame& frame);
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  // Frame i in steps of up to 63 frames; use at() to walk many.
  MpegFrame operator[](std::size_t i) const { return *at(i); }
  MpegFrame back() const { return (*this)[size() - 1]; }
  Iterator at(std::size_t i) const { return Iterator(this, i); }
  Iterator begin() const { return at(0); }
  Iterator end() const { return at(size()); }

 private:
  // A frame's length in the low 12 bits, in the high 4 the place of its bit rate in rates_.
  // One stream has at most 14 bit rates; a 16th rate met after damage is kept as 0 (unknown).
  static constexpr std::uint16_t LENGTH_MASK = 0x0FFF;
  static constexpr std::size_t RATE_SHIFT = 12;
  static constexpr std::size_t RATE_PLACES = 16;
  std::uint16_t rate_place(std::uint16_t kbps);
  MpegFrame frame_at(std::size_t i, std::uint64_t offset) const;
  std::uint32_t length_of(std::size_t i) const { return bytes_[i] & LENGTH_MASK; }

  std::deque<std::uint16_t> bytes_;  // grows without copying or doubling
  std::vector<std::uint16_t> rates_{0};  // the bit rates met, in kbps; place 0 is "unknown"
  std::vector<Anchor> anchors_;
  std::uint64_t next_offset_ = 0;  // where a frame directly following the last one starts
};

// Non-frame bytes between the start of the audio (after an ID3v2 tag) and a frame.
struct MpegGap {
  std::uint64_t offset = 0;
  std::uint64_t bytes = 0;
};

struct MpegFrameIndex {
  MpegFrameList frames;  // audio frames in file order; frame i starts at sample i × samples_per_frame
  std::uint32_t samples_per_frame = 0;
  int layer = 0;
  std::vector<MpegGap> gaps;
  std::optional<MpegFrame> info_frame;  // a Xing/Info frame, left out of frames
  std::optional<std::uint64_t> info_frame_count;  // the audio frames that Info frame announces
  bool free_format = false;  // the stream gives no frame lengths: it cannot be indexed
  std::optional<std::uint64_t> truncated_frame;  // a last frame that runs past the end of the file
};

// Indexes the stream in fp (file_size bytes), read by position through its descriptor: fp's
// own position is neither used nor moved. nullopt when the file cannot be read, with the
// reason in reason.
std::optional<MpegFrameIndex> mpeg_index_frames(std::FILE* fp, std::uint64_t file_size,
                                                std::string& reason);

// Frames that follow each other in the file with no byte between them: cuts copy them as one
// piece.
struct MpegFrameRun {
  std::uint64_t offset = 0;     // file position of the first frame
  std::uint64_t bytes = 0;
  std::uint64_t gap_after = 0;  // non-frame bytes up to the next run; 0 after the last
};
using MpegFrameRunHandler = std::function<bool(const MpegFrameRun&)>;

// Calls take with each run of frames [first, last), in file order, until one call returns
// false. false when a call did, true otherwise (also when the range is empty).
bool mpeg_frame_runs(const MpegFrameList& frames, std::size_t first, std::size_t last,
                     const MpegFrameRunHandler& take);
