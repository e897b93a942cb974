#include "support/module_reads.h"

#include <gtest/gtest.h>

namespace tfold_test {

ReadResult read_at(AudioFile& file, std::uint64_t offset, std::size_t length) {
  ReadResult r;
  r.bytes.assign(length, 0xEE);  // a byte the module did not write shows
  r.result = file.module->read_data(file, r.bytes, offset);
  r.bytes.resize(r.result > 0 ? static_cast<std::size_t>(r.result) : 0);
  return r;
}

Bytes read_through(AudioFile& file, std::size_t piece) {
  Bytes all;
  for (;;) {
    const ReadResult r = read_at(file, all.size(), piece);
    EXPECT_GE(r.result, 0) << "at " << all.size();
    if (r.result <= 0) break;
    all.insert(all.end(), r.bytes.begin(), r.bytes.end());
  }
  return all;
}

}  // namespace tfold_test
