// A source whose reads fail part way (a failing disk, a network file that went away): the
// modules that copy tracks must report the failure, not pass a short track off as complete.
#include <gtest/gtest.h>

#include <filesystem>

#include "formats/cdda/cdda.h"
#include "formats/registry.h"
#include "formats/wav/wav.h"
#include "support/harness.h"
#include "support/log_capture.h"
#include "support/system_faults.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;

constexpr std::size_t BLOCK = 2352;

struct ModuleCase {
  const char* what;
  const FormatModule* module;
  const char* name;
  std::uint64_t header;  // bytes before the audio data
};

std::vector<ModuleCase> module_cases() {
  return {{"WAV", wav_module(), "show.wav", 44}, {"CD audio", cdda_module(), "show.cdda.raw", 0}};
}

// The audio data in c's container, written into dir and opened by c's module.
AudioFilePtr open_source(const ModuleCase& c, const TempDir& dir, const Bytes& data) {
  write_file(dir / c.name, c.header != 0 ? canonical_wav(2, 44100, 16, data) : data);
  ErrorText error;
  AudioFilePtr file = format_take_file(c.module->open_file(*c.module, dir / c.name), &error);
  EXPECT_TRUE(file) << error.value_or("");
  return file;
}

TEST(SourceReadError, TrackFailsInsteadOfEndingShort) {
  for (const ModuleCase& c : module_cases()) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const Bytes data = counting_bytes(20 * BLOCK);
    AudioFilePtr file = open_source(c, dir, data);
    ASSERT_TRUE(file);
    // Reads fail from the middle of block 10 on.
    fail_reads_from(fileno(file->fp.get()), c.header + 10 * BLOCK + 100);

    LogCapture log;
    const std::string track = dir / "track";
    EXPECT_EQ(format_write_track(*file, {.path = track}), -1);
    EXPECT_FALSE(fs::exists(track));
    EXPECT_EQ(log.count("Error reading " + (dir / c.name) + ": Input/output error"), 1u) << log.text();
    // A track that ends before the failure is unharmed.
    const std::string first = dir / "first";
    EXPECT_EQ(format_write_track(*file, {.path = first, .end = 10 * BLOCK}), 0);
    EXPECT_EQ(read_file(first), c.header != 0 ? canonical_wav(2, 44100, 16, slice(data, 0, 10 * BLOCK))
                                               : slice(data, 0, 10 * BLOCK));
    clear_faults();
    c.module->close_file(*c.module, std::move(file));
  }
}

// A read that fails within the audio is no end of it: -1 with the reason, while a read past the
// end is the quiet answer that playback steps onto.
TEST(SourceReadError, ReadFailsWithTheReasonAndTheEndStaysQuiet) {
  for (const ModuleCase& c : module_cases()) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const Bytes data = counting_bytes(20 * BLOCK);
    AudioFilePtr file = open_source(c, dir, data);
    ASSERT_TRUE(file);
    fail_reads_from(fileno(file->fp.get()), c.header + 10 * BLOCK);

    LogCapture log;
    Bytes buffer(BLOCK);
    EXPECT_EQ(c.module->read_data(*file, buffer, 20 * BLOCK + 1), -1);
    EXPECT_EQ(log.warnings(), std::vector<std::string>{});
    EXPECT_EQ(c.module->read_data(*file, buffer, 12 * BLOCK), -1);
    EXPECT_EQ(log.warnings(), std::vector<std::string>{"Error reading " + (dir / c.name) + ": Input/output error at byte " +
                                                       std::to_string(c.header + 12 * BLOCK) + "; reading stops there"});
    clear_faults();
    c.module->close_file(*c.module, std::move(file));
  }
}

// Reads that fail inside one track's range cost that track alone: the tracks before and
// behind it are their exact bytes, and the warning names the source, the byte where the
// read failed and the track that is not written.
TEST(SourceReadError, OnlyTheTrackThatMeetsTheErrorFails) {
  for (const ModuleCase& c : module_cases()) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const Bytes data = counting_bytes(30 * BLOCK);
    AudioFilePtr file = open_source(c, dir, data);
    ASSERT_TRUE(file);
    // Blocks [10, 20) are the second track; bytes 100 to 200 of its block 15 cannot be read.
    const std::uint64_t bad = c.header + 15 * BLOCK + 100;
    fail_reads_between(fileno(file->fp.get()), bad, bad + 100);

    LogCapture log;
    const struct {
      const char* name;
      std::uint64_t first_block, end_block;
      bool written;
    } tracks[] = {{"one", 0, 10, true}, {"two", 10, 20, false}, {"three", 20, 30, true}};
    for (const auto& track : tracks) {
      SCOPED_TRACE(track.name);
      const std::string path = dir / track.name;
      const std::uint64_t end = track.end_block * BLOCK;
      EXPECT_EQ(format_write_track(*file, {.path = path, .start = track.first_block * BLOCK, .end = end == data.size() ? 0 : end}),
                track.written ? 0 : -1) << log.text();
      if (!track.written) {
        EXPECT_FALSE(fs::exists(path));
        continue;
      }
      const Bytes range = slice(data, track.first_block * BLOCK, (track.end_block - track.first_block) * BLOCK);
      EXPECT_EQ(read_file(path), c.header != 0 ? canonical_wav(2, 44100, 16, range) : range);
    }
    EXPECT_EQ(log.count("Error reading " + (dir / c.name) + ": Input/output error at byte " + std::to_string(bad) + "; " +
                        (dir / "two") + " is not written"),
              1u)
        << log.text();
    clear_faults();
    c.module->close_file(*c.module, std::move(file));
  }
}

}  // namespace
