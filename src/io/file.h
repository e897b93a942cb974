// Owned C stdio files.
#pragma once

#include <cstdio>
#include <memory>

struct FileCloser {
  void operator()(std::FILE* fp) const noexcept {
    if (fp != nullptr) std::fclose(fp);
  }
};
// Closes its file when it goes; write paths close it themselves (fclose through release) to
// check the result, the destructor is only the safety net.
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
