#include "io/read_ahead.h"

#include <algorithm>
#include <system_error>
#include <utility>

ReadAhead::ReadAhead(ReadAheadFunc read, std::size_t piece_bytes, std::size_t unit_bytes, ReadAheadRing ring)
    : read_(std::move(read)), piece_bytes_(std::max<std::size_t>(piece_bytes, 1)),
      unit_bytes_(std::max<std::size_t>(unit_bytes, 1)),
      pieces_per_slot_(std::max<std::size_t>(ring.pieces_per_slot, 1)) {
  // A second thread on a single processor would only take turns with the consumer.
  const bool threaded = ring.threaded && ring.slots > 1 && std::thread::hardware_concurrency() > 1;
  slots_.resize(threaded ? ring.slots : 1);
  for (Slot& slot : slots_) {
    slot.bytes.resize(pieces_per_slot_ * piece_bytes_);
    slot.lengths.reserve(pieces_per_slot_);
  }
  if (!threaded) return;
  try {
    reader_ = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
  } catch (const std::system_error&) {
    // No thread to be had: the consumer reads for itself, one slot at a time.
    slots_.resize(1);
  }
}

ReadAhead::~ReadAhead() {
  if (!reader_.joinable()) return;
  // The stop wakes the reader if it waits for room; it then leaves at once, or after the
  // read under way.
  reader_.request_stop();
  reader_.join();
}

void ReadAhead::run(std::stop_token stop) {
  for (std::size_t next = 0;; next = (next + 1) % slots_.size()) {
    {
      std::unique_lock lock(mutex_);
      if (!room_.wait(lock, stop, [this] { return filled_ < slots_.size(); })) return;
    }
    const bool more = fill(slots_[next], stop);
    {
      const std::lock_guard lock(mutex_);
      ++filled_;
    }
    ready_.notify_one();
    if (!more) return;
  }
}

// Reads pieces into slot until it is full or the stream ends; false at the end.
bool ReadAhead::fill(Slot& slot, const std::stop_token& stop) {
  slot.lengths.clear();
  try {
    while (slot.lengths.size() < pieces_per_slot_ && !stop.stop_requested()) {
      const std::span<std::uint8_t> room(slot.bytes.data() + slot.lengths.size() * piece_bytes_, piece_bytes_);
      const std::int64_t got = read_(room, offset_);
      const std::size_t whole =
          got <= 0 ? 0 : std::min(static_cast<std::size_t>(got), piece_bytes_) / unit_bytes_ * unit_bytes_;
      if (whole == 0) {
        slot.last = true;
        slot.failed = got < 0;
        return false;
      }
      slot.lengths.push_back(whole);
      offset_ += whole;
    }
  } catch (...) {
    slot.last = true;
    slot.thrown = std::current_exception();
    return false;
  }
  return true;
}

std::span<const std::uint8_t> ReadAhead::next() {
  for (;;) {
    if (held_ != nullptr) {
      if (piece_ < held_->lengths.size()) {
        const std::size_t piece = piece_++;
        return {held_->bytes.data() + piece * piece_bytes_, held_->lengths[piece]};
      }
      if (held_->last) {
        if (held_->thrown) std::rethrow_exception(held_->thrown);
        return {};
      }
      give_back_slot();
    }
    take_slot();
  }
}

bool ReadAhead::failed() const { return held_ != nullptr && held_->last && held_->failed; }

void ReadAhead::take_slot() {
  piece_ = 0;
  if (!reader_.joinable()) {
    fill(slots_.front(), std::stop_token());
    held_ = &slots_.front();
    return;
  }
  std::unique_lock lock(mutex_);
  ready_.wait(lock, [this] { return filled_ > 0; });
  held_ = &slots_[taken_++ % slots_.size()];
}

void ReadAhead::give_back_slot() {
  held_ = nullptr;
  if (!reader_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    --filled_;
  }
  room_.notify_one();
}
