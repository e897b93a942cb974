#include <gtest/gtest.h>

#include "breaks/break_file.h"
#include "breaks/txt.h"
#include "support/log_capture.h"
#include "breaks/read_result.h"
#include "support/harness.h"

namespace {

using tfold_test::Break;

TEST(TxtReader, ReadsLinesByTheFormatRules) {
  struct Case {
    const char* what;
    std::string content;
    int result;
    std::vector<Break> breaks;
    const char* warning;  // the log lines, with PATH for the file's path
  };
  const std::string line_1023 = "0=" + std::string(1021, 'x');
  const std::string line_1024 = "4500=" + std::string(1019, 'x');
  const Case cases[] = {
      {"written, skipped, blanks after =", "0=Intro\n4500\n9000=  Finale\n", 1,
       {{1, 0, "Intro"}, {0, 4500, std::nullopt}, {1, 9000, "Finale"}}, ""},
      {"blank before =", "4500 = Intro\n", 1, {{1, 4500, "Intro"}}, ""},
      {"empty name", "1234=\n", 1, {{1, 1234, ""}}, ""},
      {"tab after = stays in the name", "10=\tA \n", 1, {{1, 10, "\tA "}}, ""},
      {"comment only at the first character", " ;no comment\n", 1,
       {{0, 0, std::nullopt}}, "PATH, line 1: ' ;no comment' is no block count; read as 0\n"},
      {"blanks only", "   \n", 1, {{0, 0, std::nullopt}},
       "PATH, line 1: '   ' is no block count; read as 0\n"},
      {"letters give offset 0", "FILE \"x.wav\" WAVE\n", 1, {{0, 0, std::nullopt}},
       "PATH, line 1: 'FILE \"x.wav\" WAVE' is no block count; read as 0\n"},
      {"a time, hex and an exponent read as their leading digits",
       "\n1:30=Song\n0x10=Hex\n1e2=Exp\n", 1, {{1, 0, "Hex"}, {1, 1, "Song"}},
       "PATH, line 2: '1:30' is no block count; read as 1\n"
       "PATH, line 3: '0x10' is no block count; read as 0\n"
       "PATH, line 4: '1e2' is no block count; read as 1\n"
       "PATH, lines 2 and 4: two breaks at block 1; the second is ignored\n"},
      {"control bytes are shown escaped", "\x1b[2J\a=x\n", 1, {{1, 0, "x"}},
       "PATH, line 1: '\\x1B[2J\\x07' is no block count; read as 0\n"},
      {"CRLF line ends", "0=Intro\r\n4500=Next\r\n; note\r\n\r\n9000\r\n", 1,
       {{1, 0, "Intro"}, {1, 4500, "Next"}, {0, 9000, std::nullopt}}, ""},
      {"one carriage return belongs to the line end", "0=A\r\r\n4500= B\rC\r", 1,
       {{1, 0, "A\r"}, {1, 4500, "B\rC"}}, ""},
      {"empty file", "", 1, {}, ""},
      {"comments and empty lines", "; one\n\n;two\n", 1, {}, ""},
      {"last line without newline", "0=A\n4500=B", 1, {{1, 0, "A"}, {1, 4500, "B"}}, ""},
      {"duplicates collapse into the first", "100=First\n; note\n100=Second\n", 1,
       {{1, 100, "First"}}, "PATH, lines 1 and 3: two breaks at block 100; the second is ignored\n"},
      {"beyond the length is dropped", "0\n200000=Far\n", 1, {{0, 0, std::nullopt}},
       "PATH, line 2: the break at 44:26.50 (block 200000) lies beyond the end of the recording "
       "at 22:13.24; left out\n"},
      {"line of 1023 characters", line_1023 + "\n", 1, {{1, 0, std::string(1021, 'x')}}, ""},
      {"line of 1023 characters and CRLF", line_1023 + "\r\n", 1,
       {{1, 0, std::string(1021, 'x')}}, ""},
      {"line of 1024 characters", "0=A\n" + line_1024 + "\n9000=C\n", 0, {{1, 0, "A"}},
       "Error parsing file PATH\n"},
  };
  tfold_test::TempDir dir;
  const std::string path = dir / "breaks.txt";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tfold_test::write_text(path, c.content);
    TrackBreakListPtr list = track_break_list_new("show");
    track_break_list_set_length(*list, 100000);
    track_break_list_add(*list, 1, 77, "left over");
    tfold_test::LogCapture log;
    EXPECT_EQ(track_break_list_read_txt(path, *list), c.result);
    EXPECT_EQ(tfold_test::breaks_of(*list), c.breaks);
    std::string warning = c.warning;
    for (auto at = warning.find("PATH"); at != std::string::npos; at = warning.find("PATH", at)) {
      warning.replace(at, 4, path);
    }
    EXPECT_EQ(log.text(), warning);
  }
}

TEST(TxtReader, ATextThatIsNoListSaysSoForItsFirstLinesOnly) {
  tfold_test::TempDir dir;
  const std::string path = dir / "notes.txt";
  std::string text;
  for (int i = 0; i < 25; ++i) text += "a line of prose\n";
  tfold_test::write_text(path, text);
  TrackBreakListPtr list = track_break_list_new("show");
  track_break_list_set_length(*list, NO_END);
  tfold_test::LogCapture log;
  EXPECT_EQ(track_break_list_read_txt(path, *list), 1);
  const std::string warnings = log.text();
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 22) << warnings;
  EXPECT_TRUE(warnings.ends_with(path + ": 15 more lines hold no block count\n" + path +
                                 ": 14 more breaks repeat an earlier one's block; ignored\n"))
      << warnings;
}

TEST(TxtReader, MissingFileFailsAndLeavesTheListAlone) {
  tfold_test::TempDir dir;
  const std::string path = dir / "missing.txt";
  TrackBreakListPtr list = track_break_list_new("show");
  track_break_list_add(*list, 1, 0, "kept");
  tfold_test::LogCapture log;
  EXPECT_EQ(track_break_list_read_txt(path, *list), 0);
  EXPECT_EQ(log.text(), "Cannot open " + path + ": No such file or directory\n");
  EXPECT_EQ(tfold_test::breaks_of(*list), (std::vector<Break>{{1, 0, "kept"}}));
}

TEST(TxtReader, ExplicitNamesAreTheTitlesOfTheirTracks) {
  tfold_test::LogCapture log;
  // "Мир" (world) in Windows-1251.
  const TrackBreakListPtr list = tfold_test::read_metadata(
      "breaks.txt", "0=  Intro\r\n4500\r\n9000=\xCC\xE8\xF0\r\n9000=Again\r\n9900=\r\n", log,
      "WINDOWS-1251");
  EXPECT_EQ(tfold_test::breaks_of(*list),
            (std::vector<Break>{{1, 0, "Intro"}, {0, 4500, std::nullopt},
                                {1, 9000, "\xD0\x9C\xD0\xB8\xD1\x80"}, {1, 9900, ""}}));
  EXPECT_EQ(tfold_test::track_metadata_of(*list),
            (std::vector<TrackMetadata>{{"Intro", "", ""}, {}, {"\xD0\x9C\xD0\xB8\xD1\x80", "", ""}, {}}));
  EXPECT_EQ(list->album, AlbumMetadata{});
  EXPECT_TRUE(log.text().ends_with(", lines 3 and 4: two breaks at block 9000; the second is ignored\n"))
      << log.text();
}

}  // namespace
