// The settings file as the binary finds, creates or leaves it at start.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/harness.h"

namespace {

namespace fs = std::filesystem;
using tfold_test::Bytes;
using tfold_test::read_file;
using tfold_test::read_text;
using tfold_test::RunOptions;
using tfold_test::Tfold;
using tfold_test::warning_texts;
using tfold_test::write_text;

std::string default_file(const std::optional<std::string>& outputdir) {
  return "[trackfold]\n"
         "config_file_version=2\n"
         "use_outputdir=false\n" +
         (outputdir ? "outputdir=" + *outputdir + "\n" : std::string()) +
         "use_etree_filename_suffix=false\n"
         "etree_filename_suffix=-\n"
         "etree_cd_length=80\n"
         "prepend_file_number=false\n"
         "main_window_xpos=-1\n"
         "main_window_ypos=-1\n"
         "main_window_width=-1\n"
         "main_window_height=-1\n"
         "vpane1_position=-1\n"
         "vpane2_position=-1\n"
         "silence_percentage=2\n"
         "show_moodbar=true\n";
}

void lay_settings_file(const Tfold& t, const std::string& contents) {
  fs::create_directories(t.settings_file().parent_path());
  write_text(t.settings_file(), contents);
}

enum class FileAfter {
  Defaults,                  // written from built-in values, outputdir = the run's folder
  DefaultsAfterACopy,        // the same, the bytes before kept as trackfold.conf.broken
  DefaultsWithoutOutputdir,  // the same without an outputdir entry
  Unchanged,                 // byte for byte what the situation laid down
  NotWritten,                // no regular file at the settings path
};

struct StartSituation {
  std::string name;
  std::function<RunOptions(const Tfold&)> prepare;  // lays out files, returns the run's options
  std::vector<std::string> args;
  int status;
  FileAfter file;
  std::vector<std::string> warnings;  // in order; none means standard error stays empty
};

RunOptions plain(const Tfold&) { return {}; }

std::vector<StartSituation> start_situations() {
  return {
      {"no file", plain, {"version"}, 0, FileAfter::Defaults, {}},
      {"no file, usage text only", plain, {}, 1, FileAfter::Defaults, {}},
      {"group only",
       [](const Tfold& t) {
         lay_settings_file(t, "[trackfold]\n");
         return RunOptions{};
       },
       {"version"}, 0, FileAfter::Unchanged, {}},
      {"empty suffix, other groups and comments",
       [](const Tfold& t) {
         lay_settings_file(t, "# mine\n[trackfold]\netree_filename_suffix=\n\n[editor]\nzoom=3\n");
         return RunOptions{};
       },
       {"version"}, 0, FileAfter::Unchanged, {}},
      {"garbage file",
       [](const Tfold& t) {
         lay_settings_file(t, std::string("\x01\x02 not a key file \xff\n", 21));
         return RunOptions{};
       },
       {"version"}, 0, FileAfter::DefaultsAfterACopy,
       {"Settings file CONFIG/trackfold/trackfold.conf does not parse (Key file contains line "
        "?\\u0001\\u0002 not a key file ?? which is not a key-value pair, group, or comment); kept it as "
        "CONFIG/trackfold/trackfold.conf.broken and wrote the defaults in its place"}},
      {"PWD unset",
       [](const Tfold&) {
         RunOptions options;
         options.unset_env = {"PWD"};
         return options;
       },
       {"version"}, 0, FileAfter::DefaultsWithoutOutputdir, {}},
      {"configuration directory cannot be created",
       [](const Tfold& t) {
         // A regular file in the way stops mkdir even for root.
         write_text(t.config_dir(), "in the way\n");
         return RunOptions{};
       },
       {"version"}, 0, FileAfter::NotWritten,
       {"Could not create configuration directory: " + (fs::path("CONFIG") / "trackfold").string(),
        "Could not save settings"}},
      {"settings path is a folder",
       [](const Tfold& t) {
         fs::create_directories(t.settings_file());
         return RunOptions{};
       },
       {"version"}, 0, FileAfter::NotWritten, {"Could not save settings"}},
      {"settings path is a FIFO",
       [](const Tfold& t) {
         fs::create_directories(t.settings_file().parent_path());
         EXPECT_EQ(mkfifo(t.settings_file().c_str(), 0600), 0);
         RunOptions options;
         options.timeout = std::chrono::seconds(20);
         return options;
       },
       {"version"}, 0, FileAfter::Defaults, {}},
  };
}

std::string expand(std::string text, const Tfold& t) {
  const std::string placeholder = "CONFIG";
  for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at)) {
    text.replace(at, placeholder.size(), t.config_dir().string());
    at += t.config_dir().string().size();
  }
  return text;
}

TEST(SettingsAtStart, EachStartSituationLeavesTheExpectedFileAndRunsTheSubcommand) {
  for (const StartSituation& s : start_situations()) {
    SCOPED_TRACE(s.name);
    Tfold t;
    const RunOptions options = s.prepare(t);
    const std::optional<Bytes> before =
        fs::is_regular_file(t.settings_file()) ? std::optional<Bytes>(read_file(t.settings_file())) : std::nullopt;

    const auto r = t.run(s.args, options);

    if (r.timed_out) {
      ADD_FAILURE() << "tfold did not end";
      continue;
    }
    EXPECT_EQ(r.status, s.status);
    if (s.args.empty()) {
      EXPECT_EQ(r.out.rfind("Usage: ", 0), 0u) << r.out;
    } else {
      EXPECT_EQ(r.out.rfind("tfold 0.16 -- ", 0), 0u) << r.out;
    }
    std::vector<std::string> expected_warnings;
    for (const std::string& text : s.warnings) expected_warnings.push_back(expand(text, t));
    EXPECT_EQ(warning_texts(r.err), expected_warnings) << r.err;
    if (expected_warnings.empty()) {
      EXPECT_EQ(r.err, "");
    }

    std::vector<std::string> expected_names = {"trackfold.conf"};
    switch (s.file) {
      case FileAfter::DefaultsAfterACopy:
        ASSERT_TRUE(before.has_value());
        EXPECT_EQ(read_file(t.settings_file().string() + ".broken"), *before);
        expected_names.insert(expected_names.begin(), "trackfold.conf.broken");
        [[fallthrough]];
      case FileAfter::Defaults:
        ASSERT_TRUE(fs::is_regular_file(t.settings_file()));
        EXPECT_EQ(read_text(t.settings_file()), default_file(t.dir().string()));
        break;
      case FileAfter::DefaultsWithoutOutputdir:
        ASSERT_TRUE(fs::is_regular_file(t.settings_file()));
        EXPECT_EQ(read_text(t.settings_file()), default_file(std::nullopt));
        break;
      case FileAfter::Unchanged:
        ASSERT_TRUE(before.has_value());
        EXPECT_EQ(read_file(t.settings_file()), *before);
        break;
      case FileAfter::NotWritten:
        EXPECT_FALSE(fs::is_regular_file(t.settings_file()));
        break;
    }
    // A save writes a temporary file and renames it; none may be left behind.
    const fs::path folder = t.settings_file().parent_path();
    if (fs::is_directory(folder)) {
      std::vector<std::string> names;
      for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
      std::sort(names.begin(), names.end(), std::greater<>());
      std::sort(expected_names.begin(), expected_names.end(), std::greater<>());
      EXPECT_EQ(names, expected_names);
    }
  }
}

TEST(SettingsAtStart, AFileThatDoesNotParseIsKeptByteForByte) {
  Tfold t;
  const std::string path = t.settings_file().string();
  // Hand-edited: one malformed line among good ones, with lines after it that must survive.
  const std::string edited =
      "# my settings\n[trackfold]\nprepend_file_number=true\nthis line is broken\n"
      "etree_filename_suffix=_\n[editor]\nzoom=3\n";
  const std::string edited_again = "[trackfold]\netree_cd_length=74\n]oops[\n";
  lay_settings_file(t, edited);
  const auto first = t.run({"version"});
  lay_settings_file(t, edited_again);
  const auto second = t.run({"version"});

  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(read_text(path + ".broken"), edited);
  EXPECT_EQ(read_text(path + ".broken.1"), edited_again);
  EXPECT_EQ(read_text(path), default_file(t.dir().string()));
  EXPECT_EQ(warning_texts(first.err),
            std::vector<std::string>{"Settings file " + path +
                                     " does not parse (Key file contains line ?this line is broken? which is "
                                     "not a key-value pair, group, or comment); kept it as " + path +
                                     ".broken and wrote the defaults in its place"});
  const std::vector<std::string> second_warnings = warning_texts(second.err);
  ASSERT_EQ(second_warnings.size(), 1u) << second.err;
  EXPECT_NE(second_warnings[0].find("?]oops[?"), std::string::npos) << second_warnings[0];
  EXPECT_NE(second_warnings[0].find("; kept it as " + path + ".broken.1 and"), std::string::npos);
}

TEST(SettingsAtStart, CreatesTheMissingFoldersPrivate) {
  Tfold t;
  ASSERT_FALSE(fs::exists(t.config_dir()));
  const auto r = t.run({"version"});
  EXPECT_EQ(r.status, 0);
  for (const fs::path& folder : {t.config_dir(), t.config_dir() / "trackfold"}) {
    SCOPED_TRACE(folder.string());
    struct stat info {};
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
  }
}

TEST(SettingsAtStart, ALaterStartReadsTheFileItWroteWithoutRewritingIt) {
  Tfold t;
  ASSERT_EQ(t.run({"version"}).status, 0);
  const Bytes first = read_file(t.settings_file());
  const auto first_time = fs::last_write_time(t.settings_file());
  // Another folder as PWD: a rewrite would show up as a changed outputdir entry.
  RunOptions elsewhere;
  elsewhere.env["PWD"] = "/somewhere/else";
  const auto r = t.run({"version"}, elsewhere);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(t.settings_file()), first);
  EXPECT_EQ(fs::last_write_time(t.settings_file()), first_time);
}

}  // namespace
