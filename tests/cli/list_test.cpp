#include <gtest/gtest.h>

#include <filesystem>

#include "support/harness.h"

namespace {

using tfold_test::Tfold;
using tfold_test::write_text;

TEST(ListCommand, WithoutPathPrintsUsage) {
  Tfold t;
  tfold_test::RunOptions options;
  options.invoke_by_name = true;
  const auto r = t.run({"list"}, options);
  EXPECT_EQ(r.out, "Usage: tfold list [filename.txt|filename.cue|filename.toc] ...\n");
  EXPECT_EQ(r.status, 1);
}

TEST(ListCommand, PrintsOneTablePerFile) {
  Tfold t;
  std::filesystem::create_directories(t.dir() / "shows");
  write_text(t / "shows/gig.txt", "0=Intro\n15000\n");
  write_text(t / "set.cue",
             "FILE \"set.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 0:00:00\n"
             "TRACK 02 AUDIO\nINDEX 01 3:25:40\n");
  write_text(t / "empty.txt", "");
  const auto r = t.run({"list", "shows/gig.txt", "set.cue", "empty.txt"});
  EXPECT_EQ(r.out,
            "== shows/gig.txt ==\n"
            " 1. [x]    0:00.00 -    3:20.00 \"Intro\" (duration: 3:20.00)\n"
            " 2. [_]    3:20.00 -      (end) \"shows/gig-02\"\n"
            "\n"
            "== set.cue ==\n"
            "Audio file: set.wav (not there)\n"
            " 1. [x]    0:00.00 -    3:25.40 \"set-01\" (duration: 3:25.40)\n"
            " 2. [x]    3:25.40 -      (end) \"set-02\"\n"
            "\n"
            "== empty.txt ==\n"
            "\n");
  EXPECT_EQ(r.status, 0);
}

TEST(ListCommand, BaseNameIsThePathBeforeItsLastDot) {
  struct Case {
    const char* path;
    const char* name;
  };
  const Case cases[] = {
      {"gig", "gig-01"},
      {"v1.0/gig", "v1-01"},
      {"v1.0/gig.live.txt", "v1.0/gig.live-01"},
  };
  Tfold t;
  std::filesystem::create_directories(t.dir() / "v1.0");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    write_text(t / c.path, "4500\n");
    const auto r = t.run({"list", c.path});
    EXPECT_EQ(r.out, std::string("== ") + c.path + " ==\n" + " 1. [_]    1:00.00 -      (end) \"" +
                         c.name + "\"\n\n");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(ListCommand, StopsAtTheFirstFileItCannotRead) {
  Tfold t;
  write_text(t / "a.txt", "0=One\n");
  write_text(t / "two.cue",
             "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
             "FILE \"b.wav\" WAVE\nTRACK 02 AUDIO\nINDEX 01 00:00:00\n");
  write_text(t / "c.txt", "0=Three\n");
  std::filesystem::create_directories(t.dir() / "folder.cue");
  struct Case {
    const char* middle;
    const char* warning;
  };
  const Case cases[] = {
      {"missing.txt", "Cannot open missing.txt: No such file or directory"},
      {"two.cue", "Cannot use cue sheet two.cue, line 4: more than one FILE"},
      {"folder.cue", "Cannot read folder.cue: Is a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.middle);
    const auto r = t.run({"list", "a.txt", c.middle, "c.txt"});
    EXPECT_EQ(r.out,
              "== a.txt ==\n"
              " 1. [x]    0:00.00 -      (end) \"One\"\n"
              "\n"
              "Could not parse file\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
  }
}

TEST(ListCommand, ReadsRippedCueSheetsAndWarnsOnPlainListsNamedCue) {
  Tfold t;
  write_text(t / "rip.cue",
             "\xEF\xBB\xBFREM GENRE Rock\r\nPERFORMER \"The Band\"\r\nFILE \"rip.wav\" WAVE\r\n"
             "  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n"
             "  TRACK 02 AUDIO\r\n    INDEX 00 02:58:00\r\n    INDEX 01 03:00:00\r\n\r\n");
  write_text(t / "plain.cue", "0=Intro\n");
  const auto r = t.run({"list", "rip.cue", "plain.cue"});
  EXPECT_EQ(r.out,
            "== rip.cue ==\n"
            "Audio file: rip.wav (not there)\n"
            " 1. [x]    0:00.00 -    3:00.00 \"rip-01\" (duration: 3:00.00)\n"
            " 2. [x]    3:00.00 -      (end) \"rip-02\"\n"
            "\n"
            "== plain.cue ==\n"
            " 1. [x]    0:00.00 -      (end) \"Intro\"\n"
            "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("plain.cue is no cue sheet; read it as a plain break list"),
            std::string::npos)
      << r.err;
}

// Needs the settings file to be loaded at start.
TEST(ListCommand, NamesByDiscAndTrackWhenTheSettingsSaySo) {
  Tfold t;
  std::filesystem::create_directories(t.settings_file().parent_path());
  write_text(t.settings_file(), "[trackfold]\nuse_etree_filename_suffix=true\n");
  write_text(t / "show.txt", "0\n90000\n225001\n355501\n");
  const auto r = t.run({"list", "show.txt"});
  EXPECT_EQ(r.out,
            "== show.txt ==\n"
            " 1. [_]    0:00.00 -   20:00.00 \"showd1t01\" (duration: 20:00.00)\n"
            " 2. [_]   20:00.00 -   50:00.01 \"showd1t02\" (duration: 30:00.01)\n"
            " 3. [_]   50:00.01 -   79:00.01 \"showd1t03\" (duration: 29:00.00)\n"
            " 4. [_]   79:00.01 -      (end) \"showd2t01\"\n"
            "\n");
  EXPECT_EQ(r.status, 0);
}

TEST(ListCommand, RowNumbersWidenBeyondTwoColumns) {
  Tfold t;
  std::string lines;
  for (int i = 0; i < 100; ++i) lines += std::to_string(i * 75) + "\n";
  write_text(t / "many.txt", lines);
  const auto r = t.run({"list", "many.txt"});
  EXPECT_NE(r.out.find("\n 9. [_]    0:08.00 -    0:09.00 \"many-09\" (duration: 0:01.00)\n"
                       "10. [_]    0:09.00 -    0:10.00 \"many-10\" (duration: 0:01.00)\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("\n100. [_]    1:39.00 -      (end) \"many-100\"\n\n"), std::string::npos);
}

}  // namespace
