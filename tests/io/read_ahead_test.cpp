// The read-ahead ring: every piece reaches the consumer once and in order, cut to whole units
// as the reads left them; a failed or throwing read ends the stream after the pieces before
// it; a reader given up in the middle of a stream stops without hanging.
#include "io/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes counting(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

// A stream of known bytes whose reads can come up short, fail or throw at a given offset.
struct Source {
  Bytes bytes;
  std::size_t short_by = 0;  // each read gives this many bytes fewer than asked
  std::optional<std::uint64_t> fail_at;
  std::optional<std::uint64_t> throw_at;
  std::vector<std::uint64_t> offsets;  // of every read, in order
  std::vector<std::thread::id> threads;

  std::int64_t read(std::span<std::uint8_t> buffer, std::uint64_t offset) {
    offsets.push_back(offset);
    threads.push_back(std::this_thread::get_id());
    if (fail_at == offset) return -1;
    if (throw_at == offset) throw std::runtime_error("decoder gone");
    if (offset >= bytes.size()) return 0;
    const std::size_t count = std::min(buffer.size() - short_by, bytes.size() - offset);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), count, buffer.begin());
    return static_cast<std::int64_t>(count);
  }

  ReadAheadFunc func() {
    return [this](std::span<std::uint8_t> buffer, std::uint64_t offset) { return read(buffer, offset); };
  }
};

struct Drained {
  Bytes joined;
  std::vector<std::size_t> lengths;
  bool failed = false;
};

Drained drain(ReadAhead& reader) {
  Drained drained;
  for (std::span<const std::uint8_t> piece = reader.next(); !piece.empty(); piece = reader.next()) {
    drained.joined.insert(drained.joined.end(), piece.begin(), piece.end());
    drained.lengths.push_back(piece.size());
  }
  drained.failed = reader.failed();
  // The end stays the end.
  EXPECT_TRUE(reader.next().empty());
  return drained;
}

TEST(ReadAhead, DeliversEveryPieceOnceInOrder) {
  const struct {
    const char* what;
    std::size_t size;
    std::size_t piece;
    std::size_t unit;
    std::size_t short_by;
    ReadAheadRing ring;
    std::size_t pieces;  // expected
    std::size_t last_piece;
  } cases[] = {
      {"round the ring many times", 100000, 1000, 4, 0, {3, 2, true}, 100, 1000},
      {"one piece a slot", 100000, 1000, 4, 0, {2, 1, true}, 100, 1000},
      {"on the consumer's own thread", 100000, 1000, 4, 0, {3, 4, false}, 100, 1000},
      {"shorter than one slot", 2500, 1000, 4, 0, {3, 16, true}, 3, 500},
      {"ending on the edge of a slot", 6000, 1000, 4, 0, {3, 2, true}, 6, 1000},
      {"a partial unit at the end is left out", 10006, 1000, 4, 0, {3, 2, true}, 11, 4},
      {"reads that stop inside a unit", 100000, 1000, 4, 3, {3, 2, true}, 101, 400},
      {"units of six bytes", 60000, 6000, 6, 5, {4, 3, true}, 11, 60},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Source source{counting(c.size), c.short_by, {}, {}, {}, {}};
    Drained drained;
    {
      ReadAhead reader(source.func(), c.piece, c.unit, c.ring);
      drained = drain(reader);
    }
    const std::size_t whole = c.size / c.unit * c.unit;
    EXPECT_EQ(drained.joined, Bytes(source.bytes.begin(), source.bytes.begin() + static_cast<std::ptrdiff_t>(whole)));
    ASSERT_EQ(drained.lengths.size(), c.pieces);
    EXPECT_EQ(drained.lengths.back(), c.last_piece);
    EXPECT_FALSE(drained.failed);
    // Each read starts where the whole units of the one before ended, and one more finds the end.
    ASSERT_EQ(source.offsets.size(), c.pieces + 1);
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < c.pieces; ++i) {
      EXPECT_EQ(source.offsets[i], offset);
      offset += drained.lengths[i];
    }
    for (const std::thread::id id : source.threads) EXPECT_EQ(id, source.threads.front());
  }
}

TEST(ReadAhead, FailureOrExceptionEndsTheStreamAfterThePiecesBefore) {
  const struct {
    const char* what;
    std::optional<std::uint64_t> fail_at;
    std::optional<std::uint64_t> throw_at;
    std::size_t pieces;  // delivered before the end
    bool failed;
  } cases[] = {
      {"first read fails", 0, {}, 0, true},
      {"a read inside the third slot fails", 5000, {}, 5, true},
      {"a read at the start of a slot fails", 4000, {}, 4, true},
      {"the first read throws", {}, 0, 0, false},
      {"a later read throws", {}, 3000, 3, false},
  };
  for (const bool threaded : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (threaded ? ", threaded" : ", on the consumer's thread"));
      Source source{counting(20000), 0, c.fail_at, c.throw_at, {}, {}};
      ReadAhead reader(source.func(), 1000, 4, {3, 2, threaded});
      std::size_t pieces = 0;
      const auto count_pieces = [&] {
        while (!reader.next().empty()) ++pieces;
      };
      if (c.throw_at) {
        EXPECT_THROW(count_pieces(), std::runtime_error);
      } else {
        count_pieces();
      }
      EXPECT_EQ(pieces, c.pieces);
      EXPECT_EQ(reader.failed(), c.failed);
    }
  }
}

// A stream with no end, whose reads the test can hold up at one offset.
struct EndlessSource {
  std::atomic<std::uint64_t> reads{0};
  std::optional<std::uint64_t> hold_at;
  std::promise<void> held;
  std::shared_future<void> release;

  std::int64_t read(std::span<std::uint8_t> buffer, std::uint64_t offset) {
    ++reads;
    if (hold_at == offset) {
      held.set_value();
      release.wait();
    }
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{1});
    return static_cast<std::int64_t>(buffer.size());
  }

  ReadAheadFunc func() {
    return [this](std::span<std::uint8_t> buffer, std::uint64_t offset) { return read(buffer, offset); };
  }
};

TEST(ReadAhead, GivenUpMidStreamStopsReading) {
  for (const std::size_t taken : {0, 1, 7}) {
    SCOPED_TRACE(taken);
    EndlessSource source;
    {
      ReadAhead reader(source.func(), 64, 4, {3, 2, true});
      for (std::size_t i = 0; i < taken; ++i) ASSERT_EQ(reader.next().size(), 64u);
    }
    // The ring holds at most three slots of two pieces besides the ones taken.
    EXPECT_LE(source.reads.load(), taken + 8);
  }
}

TEST(ReadAhead, GivenUpDuringAReadWaitsForItAndStops) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "reads on the consumer's thread here";
  EndlessSource source;
  source.hold_at = 3 * 64;
  std::promise<void> release;
  source.release = release.get_future().share();
  const std::future<void> held = source.held.get_future();
  auto reader = std::make_unique<ReadAhead>(source.func(), 64, 4, ReadAheadRing{3, 2, true});
  held.wait();
  std::thread giving_up([&reader] { reader.reset(); });
  release.set_value();
  giving_up.join();
  // The stop may come a little after the release, but never later than the ring is full.
  EXPECT_GE(source.reads.load(), 4u);
  EXPECT_LE(source.reads.load(), 6u);
}

}  // namespace
