// A source whose reads fail part way (a failing disk, a network file that went away): the
// modules that copy tracks must report the failure, not pass a short track off as complete.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "formats/cdda.h"
#include "formats/wav.h"
#include "support/harness.h"
#include "support/log_capture.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

constexpr std::size_t BLOCK = 2352;

// A stream over bytes whose reads fail with EIO from offset fail_at on.
struct FailingSource {
  Bytes bytes;
  std::uint64_t fail_at;
  std::uint64_t position = 0;
};

ssize_t failing_read(void* cookie, char* buffer, std::size_t size) {
  auto& source = *static_cast<FailingSource*>(cookie);
  if (source.position >= source.fail_at) {
    errno = EIO;
    return -1;
  }
  const std::size_t count = static_cast<std::size_t>(
      std::min<std::uint64_t>({size, source.fail_at - source.position, source.bytes.size() - source.position}));
  std::memcpy(buffer, source.bytes.data() + source.position, count);
  source.position += count;
  return static_cast<ssize_t>(count);
}

int failing_seek(void* cookie, off64_t* offset, int whence) {
  auto& source = *static_cast<FailingSource*>(cookie);
  const auto base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<off64_t>(source.position)
                                                                 : static_cast<off64_t>(source.bytes.size());
  source.position = static_cast<std::uint64_t>(base + *offset);
  *offset = static_cast<off64_t>(source.position);
  return 0;
}

struct ModuleCase {
  const char* what;
  const FormatModule* module;
  const char* name;
  std::uint64_t header;  // bytes before the audio data
};

TEST(SourceReadError, TrackFailsInsteadOfEndingShort) {
  const std::vector<ModuleCase> cases = {
      {"WAV", wav_module(), "show.wav", 44},
      {"CD audio", cdda_module(), "show.cdda.raw", 0},
  };
  for (const ModuleCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const Bytes data = counting_bytes(20 * BLOCK);
    const Bytes bytes = c.header != 0 ? canonical_wav(2, 44100, 16, data) : data;
    write_file(dir / c.name, bytes);
    ErrorText error;
    AudioFilePtr file = c.module->open_file(*c.module, dir / c.name, &error);
    ASSERT_TRUE(file) << error.value_or("");
    // Same bytes, but reads fail from the middle of block 10 on.
    FailingSource source{bytes, c.header + 10 * BLOCK + 100};
    file->fp.reset(fopencookie(&source, "rb", {failing_read, nullptr, failing_seek, nullptr}));
    ASSERT_TRUE(file->fp);

    LogCapture log;
    const std::string track = dir / "track";
    EXPECT_EQ(format_write_track(*file, {.path = track}), -1);
    EXPECT_FALSE(fs::exists(dir / "track"));
    EXPECT_EQ(log.count("Error reading " + (dir / c.name)), 1u) << log.text();
    // A track that ends before the failure is unharmed.
    file->fp.reset(fopencookie(&source, "rb", {failing_read, nullptr, failing_seek, nullptr}));
    const std::string first = dir / "first";
    EXPECT_EQ(format_write_track(*file, {.path = first, .end = 10 * BLOCK}), 0);
    EXPECT_EQ(read_file(dir / "first"), c.header != 0 ? canonical_wav(2, 44100, 16, slice(data, 0, 10 * BLOCK))
                                                      : slice(data, 0, 10 * BLOCK));
    c.module->close_file(*c.module, std::move(file));
  }
}

}  // namespace
