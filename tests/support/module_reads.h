// Reading a module's decoded PCM in tests, the way the analysis and playback read it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/format.h"
#include "support/harness.h"

namespace tfold_test {

struct ReadResult {
  std::int64_t result = 0;  // what read_data returned
  Bytes bytes;              // the bytes it delivered
};

// One read_data call of `length` bytes from PCM byte `offset`.
ReadResult read_at(AudioFile& file, std::uint64_t offset, std::size_t length);

// The whole stream in reads of `piece` bytes from the start, as the analysis reads it; a
// failed read is a test failure.
Bytes read_through(AudioFile& file, std::size_t piece);

}  // namespace tfold_test
