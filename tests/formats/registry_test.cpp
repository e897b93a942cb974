// Opening answers three ways: a file of another format, a file of the module's format that is
// damaged, an opened file. Only the registry tells the user about a damaged file, and once.
#include "formats/registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "formats/cdda/cdda.h"
#include "formats/flac/flac.h"
#include "formats/mpeg/mpeg.h"
#include "formats/ogg/ogg.h"
#include "formats/wav/wav.h"
#include "support/harness.h"
#include "support/log_capture.h"
#include "support/wav_builder.h"

namespace {

using namespace tfold_test;
namespace fs = std::filesystem;
using Kind = OpenResult::Kind;

// The FLAC fixture with blocks of at least 8192 samples and at most 4096.
Bytes contradicting_flac() {
  Bytes bytes = read_file(fixture("flac_mono48.flac"));
  bytes[8] = 0x20;
  bytes[9] = 0x00;
  return bytes;
}

struct OpenCase {
  const char* what;
  const FormatModule* module;
  const char* name;  // the file's name in the test folder
  Bytes bytes;
  Kind kind;
  // Damaged: the reason, with "<path>" where the file's path goes; one ending in ": " is the
  // start of a reason that goes on in libFLAC's words.
  std::string reason;
};

std::vector<OpenCase> open_cases() {
  const Bytes wav = canonical_wav(2, 44100, 16, counting_bytes(4 * 2352));
  const Bytes flac = read_file(fixture("flac_mono48.flac"));
  const Bytes ogg = read_file(fixture("ogg_stereo44.ogg"));
  const Bytes mp3 = read_file(fixture("mpeg_cbr128_plain.mp3"));
  return {
      {"WAV: a FLAC file", wav_module(), "in.wav", flac, Kind::NotThisFormat, ""},
      {"WAV: a good file", wav_module(), "in.wav", wav, Kind::Opened, ""},
      {"CD audio: another name", cdda_module(), "in.wav", wav, Kind::NotThisFormat, ""},
      {"CD audio: a good file", cdda_module(), "in.cdda.raw", counting_bytes(2352), Kind::Opened, ""},
      {"MPEG: text", mpeg_module(), "in.mp3", Bytes(4000, 'x'), Kind::NotThisFormat, ""},
      {"MPEG: a good file", mpeg_module(), "in.mp3", mp3, Kind::Opened, ""},
      {"Ogg: a WAV file", ogg_module(), "in.ogg", wav, Kind::NotThisFormat, ""},
      {"Ogg: links that change format", ogg_module(), "in.ogg", read_file(fixture("ogg_chained_rates.ogg")),
       Kind::Damaged,
       "Chained Ogg Vorbis file <path> changes format: link 1 has 44100 Hz / 2 ch, link 2 has 22050 Hz / 1 ch"},
      {"Ogg: a good file", ogg_module(), "in.ogg", ogg, Kind::Opened, ""},
      {"FLAC: an Ogg file", flac_module(), "in.flac", ogg, Kind::NotThisFormat, ""},
      {"FLAC: the signature alone", flac_module(), "in.flac", {'f', 'L', 'a', 'C'},
       Kind::Damaged, "Cannot read FLAC file <path>: "},
      {"FLAC: contradicting block sizes", flac_module(), "in.flac", contradicting_flac(), Kind::Damaged,
       "Unsupported FLAC format in <path>: 48000 Hz, 1 channels, 16 bit, blocks of 8192 to 4096 samples"},
      {"FLAC: a good file", flac_module(), "in.flac", flac, Kind::Opened, ""},
  };
}

std::string with_path(std::string reason, const std::string& path) {
  if (const auto at = reason.find("<path>"); at != std::string::npos) reason.replace(at, 6, path);
  return reason;
}

TEST(FormatModuleOpen, TellsAnotherFormatFromADamagedFileFromAnOpenedOne) {
  format_init();
  for (OpenCase& c : open_cases()) {
    SCOPED_TRACE(c.what);
    ASSERT_NE(c.module, nullptr);
    TempDir dir;
    const std::string path = dir / c.name;
    write_file(path, c.bytes);
    LogCapture log;
    OpenResult result = c.module->open_file(*c.module, path);
    EXPECT_EQ(result.kind, c.kind) << result.reason;
    // A module only answers: the registry alone reports a damaged file.
    EXPECT_EQ(log.warnings(), std::vector<std::string>{});
    if (c.kind == Kind::Opened) {
      ASSERT_NE(result.file, nullptr);
      EXPECT_EQ(result.file->module, c.module);
      EXPECT_EQ(result.reason, "");
      c.module->close_file(*c.module, std::move(result.file));
      continue;
    }
    EXPECT_EQ(result.file, nullptr);
    if (c.kind != Kind::Damaged) continue;
    const std::string expected = with_path(c.reason, path);
    if (expected.ends_with(": ")) {
      EXPECT_TRUE(result.reason.starts_with(expected)) << result.reason;
      EXPECT_GT(result.reason.size(), expected.size()) << "no cause after the file's name";
    } else {
      EXPECT_EQ(result.reason, expected);
    }
  }
}

// The two-way form that callers of one module use: the reason in the text, and a damaged file
// told once, as the registry tells it.
TEST(FormatTakeFile, GivesTheFileOrTheReasonAndWarnsOnlyOfDamage) {
  LogCapture log;
  ErrorText error;
  EXPECT_EQ(format_take_file(OpenResult::damaged("Cannot read FLAC file x.flac: broken"), &error), nullptr);
  EXPECT_EQ(error, "Cannot read FLAC file x.flac: broken");
  EXPECT_EQ(log.warnings(), std::vector<std::string>{"Cannot read FLAC file x.flac: broken"});
  log.clear();
  EXPECT_EQ(format_take_file(OpenResult::not_this_format("No FLAC signature"), &error), nullptr);
  EXPECT_EQ(error, "No FLAC signature");
  EXPECT_EQ(format_take_file(OpenResult::not_this_format(std::nullopt), nullptr), nullptr);
  auto file = std::make_unique<AudioFile>();
  AudioFile* const opened = file.get();
  EXPECT_EQ(format_take_file(OpenResult::opened(std::move(file)), &error).get(), opened);
  EXPECT_EQ(log.warnings(), std::vector<std::string>{});
}

TEST(FormatOpenFile, WarnsOnceWithTheReasonOfADamagedFile) {
  format_init();
  const struct {
    const char* what;
    const char* name;
    Bytes bytes;
    std::string warning;  // as in OpenCase::reason; empty: no warning at all
  } cases[] = {
      {"chained Ogg", "show.ogg", read_file(fixture("ogg_chained_rates.ogg")),
       "Chained Ogg Vorbis file <path> changes format: link 1 has 44100 Hz / 2 ch, link 2 has 22050 Hz / 1 ch"},
      // Named for the format tried before it: the damage is still told, and only once.
      {"FLAC named .mp3", "show.mp3", contradicting_flac(),
       "Unsupported FLAC format in <path>: 48000 Hz, 1 channels, 16 bit, blocks of 8192 to 4096 samples"},
      {"text", "notes.txt", Bytes(100, 'x'), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir / c.name;
    write_file(path, c.bytes);
    LogCapture log;
    ErrorText error;
    EXPECT_EQ(format_open_file(path, &error), nullptr);
    EXPECT_EQ(error, "File format unknown/not supported");
    const std::vector<std::string> expected =
        c.warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{with_path(c.warning, path)};
    EXPECT_EQ(log.warnings(), expected) << log.text();
  }
}

}  // namespace
