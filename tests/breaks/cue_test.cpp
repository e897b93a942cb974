#include <gtest/gtest.h>

#include "breaks/read_result.h"

namespace {

using tfold_test::Break;
using tfold_test::check_reads;
using tfold_test::read_metadata;
using tfold_test::track_metadata_of;
using tfold_test::written_at;

// Sheets as ripping software writes them; the break of each audio track is its INDEX 01.
const char* const RIPPED_SHEET =
    "REM GENRE Rock\n"
    "REM DATE 1999\n"
    "CATALOG 0123456789012\n"
    "PERFORMER \"The Band\"\n"
    "TITLE \"Live at the Hall\"\n"
    "FILE \"Live at the Hall.wav\" WAVE\n"
    "  TRACK 01 AUDIO\n"
    "    TITLE \"Opening Song\"\n"
    "    PERFORMER \"The Band\"\n"
    "    ISRC USABC9900001\n"
    "    INDEX 01 00:00:00\n"
    "  TRACK 02 AUDIO\n"
    "    TITLE \"Second Song\"\n"
    "    FLAGS DCP\n"
    "    INDEX 00 04:10:20\n"
    "    INDEX 01 04:12:20\n"
    "  TRACK 03 AUDIO\n"
    "    PREGAP 00:02:00\n"
    "    INDEX 01 10:00:00\n"
    "    INDEX 02 11:00:00\n"
    "    POSTGAP 00:01:00\n"
    "\n";

TEST(CueReader, ReadsTheWritersForm) {
  check_reads("sheet.cue", {
      {"two tracks",
       "FILE \"show.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 0:00:00\nTRACK 02 AUDIO\nINDEX 01 3:25:40\n",
       1, written_at({0, 15415}), ""},
      {"only the FILE line", "FILE \"show.wav\" WAVE\n", 1, {}, ""},
      {"unquoted file name", "FILE show.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 1:00:00\n", 1,
       written_at({4500}), ""},
  });
}

TEST(CueReader, ReadsSheetsAsRippingSoftwareWritesThem) {
  const std::uint64_t track2 = 4 * 4500 + 12 * 75 + 20;
  check_reads("sheet.cue", {
      {"headers, indentation, pregaps, flags", RIPPED_SHEET, 1,
       written_at({0, track2, 45000}), ""},
      {"CRLF, byte-order mark, lower case, no final newline",
       "\xEF\xBB\xBFrem COMMENT \"x\"\r\nfile \"a b.wav\" wave\r\n\ttrack 01 audio\r\n"
       "\t\tindex 01 00:00:00\r\n\ttrack 02 audio\r\n\t\tindex 01 04:12:20",
       1, written_at({0, track2}), ""},
      {"old Mac line ends", "FILE \"a.wav\" WAVE\rTRACK 01 AUDIO\rINDEX 01 01:00:00\r", 1,
       written_at({4500}), ""},
      {"pregap on track 1",
       "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:02:00\n", 1,
       written_at({150}), ""},
      {"data track first",
       "FILE \"cd.bin\" BINARY\nTRACK 01 MODE1/2352\nINDEX 01 00:00:00\n"
       "TRACK 02 AUDIO\nINDEX 00 09:58:00\nINDEX 01 10:00:00\n",
       1, written_at({45000}), ""},
      {"numbers need not start at 1 or run without gaps",
       "FILE \"a.wav\" WAVE\nTRACK 05 AUDIO\nINDEX 01 00:00:00\nTRACK 09 AUDIO\nINDEX 01 00:10:00\n",
       1, written_at({0, 750}), ""},
      {"minutes above 99, frames as written",
       "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:75:00\nTRACK 02 AUDIO\nINDEX 01 120:00:00\n",
       1, written_at({5625, 540000}), ""},
      {"blank lines anywhere",
       "\n\nFILE \"a.wav\" WAVE\n\nTRACK 01 AUDIO\n\n\nINDEX 01 00:00:00\n\n\n", 1,
       written_at({0}), ""},
  });
}

TEST(CueReader, RefusesUnusableCueSheetsWithoutFallingBack) {
  check_reads("sheet.cue", {
      {"several FILEs",
       "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"b.wav\" WAVE\n"
       "TRACK 02 AUDIO\nINDEX 01 00:00:00\n",
       0, {}, "line 4: more than one FILE"},
      {"malformed INDEX time", "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 3:25\n", 0, {},
       "line 3: malformed INDEX time"},
      {"track numbers going backwards",
       "FILE \"a.wav\" WAVE\nTRACK 02 AUDIO\nINDEX 01 00:00:00\nTRACK 01 AUDIO\nINDEX 01 01:00:00\n",
       0, {}, "line 4: track numbers must increase"},
      {"TRACK before FILE", "TRACK 01 AUDIO\nINDEX 01 00:00:00\n", 0, {},
       "line 1: TRACK before FILE"},
      {"audio track without INDEX 01",
       "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 00 00:00:00\nTRACK 02 AUDIO\nINDEX 01 01:00:00\n",
       0, {}, "line 4: an audio TRACK without INDEX 01"},
  });
}

TEST(CueReader, FileThatIsNoCueSheetIsReadAsPlainBreakList) {
  check_reads("sheet.cue", {
      {"a TXT list named .cue", "0=Intro\n4500\n", 1,
       {{1, 0, "Intro"}, {0, 4500, std::nullopt}}, "is no cue sheet; read it as a plain break list"},
  });
}

TEST(CueReader, ReadsTheSheetsAndTheTracksMetadata) {
  tfold_test::LogCapture log;
  const TrackBreakListPtr list = read_metadata("sheet.cue", RIPPED_SHEET, log);
  EXPECT_EQ(list->album, (AlbumMetadata{"Live at the Hall", "The Band", "1999", "Rock"}));
  EXPECT_EQ(track_metadata_of(*list),
            (std::vector<TrackMetadata>{{"Opening Song", "The Band", "USABC9900001"},
                                        {"Second Song", "", ""},
                                        {"", "", ""}}));
  EXPECT_EQ(log.text(), "");
}

TEST(CueReader, ReadsValuesQuotedOrNot) {
  struct Case {
    const char* what;
    std::string line;
    std::string title;
  };
  const Case cases[] = {
      {"quoted", "TITLE \"Two Words\"", "Two Words"},
      {"one word unquoted", "TITLE Intro", "Intro"},
      {"words unquoted", "TITLE Two  Words ", "Two  Words"},
      {"escaped quotes", "TITLE \"Say \\\"Hi\\\"\"", "Say \"Hi\""},
      {"escaped backslash", "TITLE \"back\\\\slash\"", "back\\slash"},
      {"other backslashes stay", "TITLE \"AC\\DC\"", "AC\\DC"},
      {"unterminated quote", "TITLE \"Open end", "Open end"},
      {"words after the quote", "TITLE \"A\" B", "A"},
      {"blanks and controls inside the quotes", "TITLE \"  Tab\there\x01  \"", "Tabhere"},
      {"a slash stays in the title", "TITLE \"A/B\"", "A/B"},
      {"empty", "TITLE \"\"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tfold_test::LogCapture log;
    const TrackBreakListPtr list = read_metadata(
        "sheet.cue", "FILE a.wav WAVE\nTRACK 01 AUDIO\n" + c.line + "\r\nINDEX 01 00:00:00\n", log);
    ASSERT_EQ(list->breaks.size(), 1u);
    EXPECT_EQ(list->breaks[0].metadata.title, c.title);
  }
}

TEST(CueReader, MetadataBelongsToItsTrackWhereverItStands) {
  tfold_test::LogCapture log;
  const TrackBreakListPtr list = read_metadata(
      "sheet.cue",
      "FILE \"cd.bin\" BINARY\nTITLE Album\n"
      "TRACK 01 MODE1/2352\nTITLE Data\nPERFORMER Nobody\nINDEX 01 00:00:00\n"
      "TRACK 02 AUDIO\nINDEX 01 01:00:00\nTITLE \"After the index\"\nREM DATE 2001\n"
      "TRACK 03 AUDIO\nINDEX 01 01:00:00\nTITLE \"Same place as track 2\"\n"
      "TRACK 04 AUDIO\nPERFORMER Guest\nINDEX 01 02:00:00\n",
      log);
  EXPECT_EQ(list->album, (AlbumMetadata{"Album", "", "", ""}));
  EXPECT_EQ(track_metadata_of(*list),
            (std::vector<TrackMetadata>{{"After the index", "", ""}, {"", "Guest", ""}}));
}

TEST(CueReader, ReadsPositionsAloneUnlessAskedForMetadata) {
  tfold_test::TempDir dir;
  const std::string path = dir / "sheet.cue";
  tfold_test::write_text(path, RIPPED_SHEET);
  TrackBreakListPtr list = track_break_list_new("base");
  track_break_list_set_length(*list, NO_END);
  ASSERT_EQ(track_break_list_read(path, *list), 1);
  EXPECT_EQ(list->album, AlbumMetadata{});
  EXPECT_EQ(track_metadata_of(*list), std::vector<TrackMetadata>(3));
}

}  // namespace
