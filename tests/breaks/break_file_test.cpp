#include "breaks/break_file.h"

#include <gtest/gtest.h>

#include "breaks/cue.h"
#include "breaks/toc.h"
#include "breaks/txt.h"
#include "support/log_capture.h"
#include "breaks/read_result.h"
#include "settings/settings.h"
#include "support/harness.h"

namespace {

using tfold_test::Break;
using tfold_test::written_at;

const char* const TXT_BYTES =
    "\n; Created by trackfold 0.16\n; https://trackfold.org/2006/trackfold/tb-file-format.txt\n\n"
    "0=show-01\n15415\n\n; Total breaks: 2\n; Original file: show.wav\n\n";
const char* const CUE_BYTES =
    "FILE \"show.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 0:00:00\nTRACK 02 AUDIO\nINDEX 01 3:25:40\n";
const char* const TOC_BYTES =
    "// Generated with trackfold\n\nCD_DA\n"
    "\n// track 00\nTRACK AUDIO\nFILE \"show.wav\" 0:00:00 3:25:40\n"
    "\n// track 01\nTRACK AUDIO\nFILE \"show.wav\" 3:25:40 3:14:35\n";

class BreakFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_use_etree_filename_suffix(0);
    set_prepend_file_number(0);
    set_etree_filename_suffix("-");
    list = track_break_list_new("show");
    track_break_list_set_length(*list, 30000);
    track_break_list_add(*list, 1, 0, std::nullopt);
    track_break_list_add(*list, 0, 15415, std::nullopt);
  }
  TrackBreakListPtr list;
  tfold_test::TempDir dir;
};

TEST_F(BreakFileTest, WritersProduceTheirFormatByExtension) {
  struct Case {
    const char* file;
    const char* bytes;
  };
  const Case cases[] = {
      {"show.txt", TXT_BYTES}, {"show.cue", CUE_BYTES}, {"show.toc", TOC_BYTES},
      // Only lower-case extensions choose CUE and TOC for writing.
      {"show.CUE", TXT_BYTES}, {"show.TOC", TXT_BYTES}, {"show", TXT_BYTES},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir / c.file;
    ASSERT_EQ(track_break_list_write(path, "show.wav", *list), 1);
    EXPECT_EQ(tfold_test::read_text(path), c.bytes);
  }
}

TEST_F(BreakFileTest, WrittenFilesReadBack) {
  struct Case {
    const char* file;
    std::vector<Break> breaks;
  };
  const Case cases[] = {
      {"back.txt", {{1, 0, "show-01"}, {0, 15415, std::nullopt}}},
      {"back.cue", written_at({0, 15415})},
      {"back.toc", written_at({0, 15415})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir / c.file;
    ASSERT_EQ(track_break_list_write(path, "show.wav", *list), 1);
    TrackBreakListPtr back = track_break_list_new("other");
    track_break_list_set_length(*back, NO_END);
    tfold_test::LogCapture log;
    ASSERT_EQ(track_break_list_read(path, *back), 1);
    EXPECT_EQ(tfold_test::breaks_of(*back), c.breaks);
    EXPECT_EQ(log.text(), "");
  }
}

TEST_F(BreakFileTest, ReaderIsChosenByExactExtension) {
  // A cue sheet read by the TXT reader gives one skipped break at 0 per distinct offset.
  struct Case {
    const char* file;
    std::vector<Break> breaks;
  };
  const Case cases[] = {
      {"show.cue", written_at({0, 15415})},
      {"show.CUE", written_at({0, 15415})},
      {"show.Cue", {{0, 0, std::nullopt}}},
      {"cue", {{0, 0, std::nullopt}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir / c.file;
    tfold_test::write_text(path, CUE_BYTES);
    TrackBreakListPtr back = track_break_list_new("other");
    track_break_list_set_length(*back, NO_END);
    ASSERT_EQ(track_break_list_read(path, *back), 1);
    EXPECT_EQ(tfold_test::breaks_of(*back), c.breaks);
  }
}

TEST_F(BreakFileTest, MissingCueOrTocFileFailsThroughTheTxtReader) {
  for (const char* file : {"gone.cue", "gone.TOC"}) {
    SCOPED_TRACE(file);
    const std::string path = dir / file;
    tfold_test::LogCapture log;
    EXPECT_EQ(track_break_list_read(path, *list), 0);
    EXPECT_EQ(log.text(), "Cannot open " + path + ": No such file or directory\n");
  }
}

TEST_F(BreakFileTest, WritersReportFilesTheyCouldNotWrite) {
  struct Case {
    const char* what;
    std::string path;
    const char* warning;  // PATH stands for the path
  };
  const std::string no_dir = dir / "no/such/dir/show";
  const Case cases[] = {
      {"txt, device full", "/dev/full", "Could not write PATH: No space left on device\n"},
      {"txt, cannot open", no_dir + ".txt",
       "Could not open PATH for writing: No such file or directory\n"},
      {"cue, cannot open", no_dir + ".cue", "Error opening PATH.\n"},
      {"toc, cannot open", no_dir + ".toc",
       "Could not open PATH for writing: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tfold_test::LogCapture log;
    EXPECT_EQ(track_break_list_write(c.path, "show.wav", *list), 0);
    std::string warning = c.warning;
    if (auto at = warning.find("PATH"); at != std::string::npos) warning.replace(at, 4, c.path);
    EXPECT_EQ(log.text(), warning);
  }
}

TEST_F(BreakFileTest, EveryWriterDetectsAFullDevice) {
  using Writer = int (*)(const std::string&, const std::string&, const TrackBreakList&);
  for (Writer writer : {track_break_list_write_txt, track_break_list_write_cue,
                        track_break_list_write_toc}) {
    tfold_test::LogCapture log;
    EXPECT_EQ(writer("/dev/full", "show.wav", *list), 0);
    EXPECT_EQ(log.text(), "Could not write /dev/full: No space left on device\n");
  }
}

}  // namespace
