#include <gtest/gtest.h>

#include "breaks/read_result.h"

namespace {

using tfold_test::Break;
using tfold_test::check_reads;
using tfold_test::read_metadata;
using tfold_test::track_metadata_of;
using tfold_test::written_at;

const char* const WRITTEN_TOC =
    "// Generated with trackfold\n\nCD_DA\n"
    "\n// track 00\nTRACK AUDIO\nFILE \"show.wav\" 0:00:00 3:25:40\n"
    "\n// track 01\nTRACK AUDIO\nFILE \"show.wav\" 3:25:40 3:14:35\n";

// As a disc copier writes it: CD-TEXT, flags, and each track's pregap held in the file
// before START.
const char* const COPIED_TOC =
    "CD_DA\n\n"
    "CD_TEXT {\n  LANGUAGE_MAP {\n    0 : EN\n  }\n"
    "  LANGUAGE 0 {\n    TITLE \"Live { at } the Hall // no comment\"\n"
    "    PERFORMER \"The Band\"\n  }\n}\n\n"
    "// Track 1\nTRACK AUDIO\nNO COPY\nNO PRE_EMPHASIS\nTWO_CHANNEL_AUDIO\n"
    "CD_TEXT {\n  LANGUAGE 0 {\n    TITLE \"FILE \\\"x\\\" 9:00:00\"\n  }\n}\n"
    "FILE \"data.wav\" 0 04:12:56\n\n"
    "// Track 2\nTRACK AUDIO\nISRC \"USABC9900001\"\n"
    "FILE \"data.wav\" 04:12:56 03:40:20\nSTART 00:02:00\n"
    "INDEX 01:00:00\n";

TEST(TocReader, ReadsTocFiles) {
  check_reads("disc.toc", {
      {"the writer's form", WRITTEN_TOC, 1, written_at({0, 15415}), ""},
      {"a copier's form with CD-TEXT and START", COPIED_TOC, 1,
       written_at({0, 4 * 4500 + 12 * 75 + 56 + 150}), ""},
      {"START counts the silence that the file does not hold",
       "CD_DA\nTRACK AUDIO\nFILE \"a.wav\" 0 01:00:00\n"
       "TRACK AUDIO\nSILENCE 00:02:00\nFILE \"a.wav\" 01:00:00 03:00:00\nSTART 00:03:00\n"
       "TRACK AUDIO\nPREGAP 00:01:00\nAUDIOFILE \"a.wav\" 04:00:00 01:00:00\n",
       1, written_at({0, 4500 + 75, 18000}), ""},
      {"START without a time: all data so far is pregap",
       "CD_DA\nTRACK AUDIO\nFILE \"a.wav\" 01:00:00 00:05:00\nSTART\nFILE \"a.wav\" 01:05:00 1:00:00\n",
       1, written_at({4500 + 375}), ""},
      {"sample counts and a byte offset",
       "CD_DA\nTRACK AUDIO\nFILE \"a.wav\" #44 0 5880000\nTRACK AUDIO\nFILE \"a.wav\" #44 5880000\n",
       1, written_at({0, 10000}), ""},
      {"data track makes no break",
       "CD_ROM\nTRACK MODE1\nDATAFILE \"d.bin\" 10:00:00\nZERO MODE1 00:02:00\n"
       "TRACK AUDIO\nFILE \"a.wav\" 10:00:00 01:00:00\n",
       1, written_at({45000}), ""},
      {"CRLF line ends", "CD_DA\r\nTRACK AUDIO\r\nFILE \"a.wav\" 00:10:00 00:10:00\r\n", 1,
       written_at({750}), ""},
  });
}

TEST(TocReader, RefusesUnusableTocFilesWithoutFallingBack) {
  check_reads("disc.toc", {
      {"several audio files",
       "CD_DA\nTRACK AUDIO\nFILE \"a.wav\" 0\nTRACK AUDIO\nFILE \"b.wav\" 0\n", 0, {},
       "line 5: more than one audio file"},
      {"FILE before TRACK", "CD_DA\nFILE \"a.wav\" 0\n", 0, {}, "line 2: FILE before TRACK"},
      {"malformed start", "CD_DA\nTRACK AUDIO\nFILE \"a.wav\" 3:25\n", 0, {},
       "line 3: missing or malformed start"},
  });
}

TEST(TocReader, FileThatIsNoTocIsReadAsPlainBreakList) {
  check_reads("disc.toc", {
      {"a TXT list named .toc", "0=Intro\n4500\n", 1,
       {{1, 0, "Intro"}, {0, 4500, std::nullopt}},
       "is no TOC file; read it as a plain break list"},
  });
}

TEST(TocReader, ReadsCdTextOfLanguageZero) {
  tfold_test::LogCapture log;
  TrackBreakListPtr list = read_metadata("disc.toc", COPIED_TOC, log);
  EXPECT_EQ(tfold_test::breaks_of(*list), written_at({0, 4 * 4500 + 12 * 75 + 56 + 150}));
  EXPECT_EQ(list->album, (AlbumMetadata{"Live { at } the Hall // no comment", "The Band", "", ""}));
  EXPECT_EQ(track_metadata_of(*list),
            (std::vector<TrackMetadata>{{"FILE \"x\" 9:00:00", "", ""}, {"", "", "USABC9900001"}}));

  list = read_metadata(
      "disc.toc",
      "CD_DA\nCD_TEXT {\n LANGUAGE_MAP { 0 : 9 1 : 8 }\n"
      " LANGUAGE 1 { TITLE \"Album in another language\" }\n"
      " LANGUAGE 0 { TITLE \"Caf\\351 \\\"Bleu\\\"\" GENRE { 0, 8, 0 } PERFORMER \"Trio\" }\n}\n"
      "TRACK AUDIO\nCD_TEXT { LANGUAGE 0 { TITLE \"\\101\\102C\" ISRC \"GBAAA0000001\" }"
      " LANGUAGE 1 { TITLE \"Other\" } }\nFILE \"a.wav\" 0 01:00:00\n",
      log);
  EXPECT_EQ(tfold_test::breaks_of(*list), written_at({0}));
  // An octal escape stands for a byte of CD-TEXT's own charset, ISO 8859-1.
  EXPECT_EQ(list->album, (AlbumMetadata{"Caf\xC3\xA9 \"Bleu\"", "Trio", "", ""}));
  EXPECT_EQ(track_metadata_of(*list), (std::vector<TrackMetadata>{{"ABC", "", "GBAAA0000001"}}));
}

}  // namespace
