// The file a module writes a track into: removed again unless the track was completed, so a
// failed write never leaves behind a file that looks like a track.
#pragma once

#include <cstdio>
#include <string>

#include "formats/format.h"

class OutputFile {
 public:
  // Opens path for writing like fopen "wb"; is_open() tells whether that worked (errno set).
  explicit OutputFile(std::string path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool is_open() const { return fp_ != nullptr; }
  std::FILE* get() const { return fp_.get(); }
  // Closing is the last write: a stream that cannot be flushed was not written. True when the
  // file is complete; it is then kept.
  bool close_and_keep();

 private:
  std::string path_;
  FilePtr fp_;
  bool kept_ = false;
};
