// Shared by the MPEG tests: GLib log capture and helpers around opened MPEG files.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/format.h"
#include "formats/mpeg/mpeg_frame.h"
#include "formats/registry.h"
#include "support/harness.h"

namespace mpeg_test {

// Collects the GLib log lines of the test process (warnings and messages; debug is dropped).
class LogCapture {
 public:
  LogCapture() {
    install();
    lines().clear();
  }
  ~LogCapture() { lines().clear(); }
  const std::vector<std::string>& all() const { return lines(); }
  std::vector<std::string> matching(const std::string& text) const {
    std::vector<std::string> found;
    for (const auto& line : lines()) {
      if (line.find(text) != std::string::npos) found.push_back(line);
    }
    return found;
  }

 private:
  static std::vector<std::string>& lines() {
    static std::vector<std::string> captured;
    return captured;
  }
  static GLogWriterOutput writer(GLogLevelFlags level, const GLogField* fields, gsize n_fields,
                                 gpointer) {
    if ((level & G_LOG_LEVEL_DEBUG) != 0) return G_LOG_WRITER_HANDLED;
    for (gsize i = 0; i < n_fields; ++i) {
      if (std::string(fields[i].key) == "MESSAGE") {
        lines().emplace_back(static_cast<const char*>(fields[i].value));
      }
    }
    return G_LOG_WRITER_HANDLED;
  }
  static void install() {
    static const bool installed = [] {
      g_log_set_writer_func(writer, nullptr, nullptr);
      return true;
    }();
    (void)installed;
  }
};

struct FileCloser {
  void operator()(AudioFile* file) const { format_close_file(AudioFilePtr(file)); }
};
using OpenedFile = std::unique_ptr<AudioFile, FileCloser>;

inline OpenedFile open_audio(const std::string& path) {
  format_init();
  ErrorText error;
  AudioFilePtr file = format_open_file(path, &error);
  EXPECT_TRUE(file) << path << ": " << error.value_or("");
  return OpenedFile(file.release());
}

// The whole decoded stream, read in pieces the way the analysis does.
inline tfold_test::Bytes decode_all(AudioFile& file) {
  tfold_test::Bytes pcm;
  std::vector<std::uint8_t> piece(65536);
  for (std::uint64_t offset = 0;;) {
    const std::int64_t got = format_read_data(file, piece, offset);
    if (got <= 0) break;
    pcm.insert(pcm.end(), piece.begin(), piece.begin() + got);
    offset += static_cast<std::uint64_t>(got);
  }
  return pcm;
}

// The file offsets of the frames that follow one another from offset on.
inline std::vector<std::size_t> frame_offsets(const tfold_test::Bytes& bytes, std::size_t offset = 0) {
  std::vector<std::size_t> offsets;
  while (offset + 4 <= bytes.size()) {
    const auto header = mpeg_parse_frame_header(std::span(bytes).subspan(offset, 4));
    if (!header || header->frame_bytes == 0) break;
    offsets.push_back(offset);
    offset += header->frame_bytes;
  }
  return offsets;
}

// Bytes without a frame header anywhere: no byte of them is 0xFF.
inline tfold_test::Bytes non_frame_data(std::size_t size) {
  tfold_test::Bytes junk(size);
  for (std::size_t i = 0; i < size; ++i) junk[i] = static_cast<std::uint8_t>(i * 7 % 128);
  return junk;
}

}  // namespace mpeg_test
