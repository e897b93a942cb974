// A stream read ahead of its consumer on a thread of its own, so that reading it (a copy out
// of the page cache, a decoder) and working on what was read share two processors. Pieces
// cross between the threads a ring slot of many at a time: on a virtual machine every wakeup
// of the other thread costs more than the copy of a piece.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <span>
#include <stop_token>
#include <thread>
#include <vector>

// read(buffer, offset): the bytes of the stream from offset put into buffer; 0 at its end,
// below 0 when it could not be read.
using ReadAheadFunc = std::function<std::int64_t(std::span<std::uint8_t> buffer, std::uint64_t offset)>;

// How much is read ahead: slots of pieces_per_slot pieces each. threaded false, or a machine
// with one processor, reads on the consumer's thread when it asks, through the same calls.
struct ReadAheadRing {
  std::size_t slots = 3;
  std::size_t pieces_per_slot = 8;
  bool threaded = true;
};

class ReadAhead {
 public:
  // Reads from offset 0 in calls of piece_bytes (a multiple of unit_bytes), each piece cut
  // to whole units (sample frames), the next read starting after them. The stream ends at
  // the first read that gives no whole unit. read is called on the reading thread only.
  ReadAhead(ReadAheadFunc read, std::size_t piece_bytes, std::size_t unit_bytes, ReadAheadRing ring = {});
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  // Stops reading after the read under way and waits for the thread.
  ~ReadAhead();

  // The next piece, in stream order, valid until the next call; empty at the end. At the end
  // of a stream whose read threw, throws that again.
  std::span<const std::uint8_t> next();
  // After the end: whether the last read failed rather than found the end.
  bool failed() const;

 private:
  struct Slot {
    std::vector<std::uint8_t> bytes;   // the pieces, each at a multiple of piece_bytes
    std::vector<std::size_t> lengths;  // of the pieces read into it
    bool last = false;                 // the stream ends after these pieces
    bool failed = false;               // ... because its read failed
    std::exception_ptr thrown;         // ... because its read threw this
  };

  void run(std::stop_token stop);
  bool fill(Slot& slot, const std::stop_token& stop);
  void take_slot();
  void give_back_slot();

  ReadAheadFunc read_;
  std::size_t piece_bytes_;
  std::size_t unit_bytes_;
  std::size_t pieces_per_slot_;
  std::vector<Slot> slots_;
  std::uint64_t offset_ = 0;   // of the next read; the reading thread's own
  // The consumer's own: the slot it holds (none at first), and its next piece.
  Slot* held_ = nullptr;
  std::size_t piece_ = 0;
  std::uint64_t taken_ = 0;     // slots taken so far
  std::mutex mutex_;
  std::condition_variable ready_;     // a slot was filled
  std::condition_variable_any room_;  // a slot was given back
  std::size_t filled_ = 0;            // slots filled and not yet given back, under mutex_
  // Last, so that it stops before anything it touches goes.
  std::jthread reader_;
};
