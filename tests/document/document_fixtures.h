// Helpers shared by the document tests: WAV files on disk, fake modules, and waits that
// give up instead of hanging a test run.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "document/audio_document.h"
#include "support/harness.h"
#include "support/wav_builder.h"

namespace tfold_test {

// 16-bit stereo 44100 Hz: one block is 2352 bytes.
constexpr std::size_t CD_BLOCK = 2352;

// A WAV of 16-bit stereo frames whose left channel holds `left` and right `right`.
inline Bytes stereo16(std::size_t frames, std::int16_t left, std::int16_t right) {
  Bytes data;
  data.reserve(frames * 4);
  for (std::size_t i = 0; i < frames; ++i) {
    append_le16(data, static_cast<std::uint16_t>(left));
    append_le16(data, static_cast<std::uint16_t>(right));
  }
  return data;
}

inline AudioDocumentPtr open_document(const std::string& path) {
  audio_document_init();
  ErrorText error;
  AudioDocumentPtr document = audio_document_open(path, &error);
  EXPECT_TRUE(document) << error.value_or("");
  return document;
}

template <typename Predicate>
bool wait_until(Predicate done, std::chrono::seconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline void wait_analyzed(AudioDocument& document) {
  ASSERT_TRUE(wait_until([&] { return audio_document_is_analyzed(document) != 0; }));
}

// An audio file held in memory, of which only the first `readable` bytes can be read:
// a stream that ends early, or (fail) one that cannot be read at all.
struct MemoryFile final : AudioFile {
  Bytes data;
  std::uint64_t readable = 0;
  bool fail = false;
};

inline std::int64_t memory_read(AudioFile& base, std::span<std::uint8_t> buffer,
                                std::uint64_t offset) {
  auto& file = static_cast<MemoryFile&>(base);
  if (file.fail || offset > file.readable) return -1;
  const std::uint64_t count = std::min<std::uint64_t>(buffer.size(), file.readable - offset);
  if (count > 0) std::memcpy(buffer.data(), file.data.data() + offset, count);
  return static_cast<std::int64_t>(count);
}

inline void memory_close(const FormatModule&, AudioFilePtr) {}

inline const FormatModule MEMORY_MODULE = {"memory", "test", ".mem", nullptr,
                                           memory_close, memory_read, nullptr};

inline SampleInfo cd_sample_info(std::uint64_t num_bytes) {
  SampleInfo si;
  si.channels = 2;
  si.samplesPerSec = 44100;
  si.avgBytesPerSec = 176400;
  si.blockAlign = 4;
  si.bitsPerSample = 16;
  si.numBytes = num_bytes;
  si.bufferSize = CD_BLOCK;
  return si;
}

inline AudioFilePtr memory_file(const SampleInfo& si, Bytes data, std::uint64_t readable,
                                bool fail = false) {
  auto file = std::make_unique<MemoryFile>();
  file->module = &MEMORY_MODULE;
  file->path = "memory/show.mem";
  file->si = si;
  file->data = std::move(data);
  file->readable = readable;
  file->fail = fail;
  return file;
}

}  // namespace tfold_test
