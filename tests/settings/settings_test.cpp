#include "settings/settings.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/harness.h"

namespace {

namespace fs = std::filesystem;
using tfold_test::read_text;
using tfold_test::TempDir;
using tfold_test::write_text;

struct NumberOption {
  const char* key;
  void (*set)(std::int32_t);
  std::int32_t (*get)();
};

const std::vector<NumberOption>& number_options() {
  static const std::vector<NumberOption> rows = {
      {"config_file_version", set_config_file_version, get_config_file_version},
      {"use_outputdir", set_use_outputdir, get_use_outputdir},
      {"use_etree_filename_suffix", set_use_etree_filename_suffix, get_use_etree_filename_suffix},
      {"prepend_file_number", set_prepend_file_number, get_prepend_file_number},
      {"main_window_xpos", set_main_window_xpos, get_main_window_xpos},
      {"main_window_ypos", set_main_window_ypos, get_main_window_ypos},
      {"main_window_width", set_main_window_width, get_main_window_width},
      {"main_window_height", set_main_window_height, get_main_window_height},
      {"vpane1_position", set_vpane1_position, get_vpane1_position},
      {"vpane2_position", set_vpane2_position, get_vpane2_position},
      {"silence_percentage", set_silence_percentage, get_silence_percentage},
      {"show_moodbar", set_show_moodbar, get_show_moodbar},
  };
  return rows;
}

std::optional<std::string> text(const char* value) {
  return value ? std::optional<std::string>(value) : std::nullopt;
}

// g_get_user_config_dir() caches its answer on first use, so one configuration home serves
// every test of this process; each test lays out its own file in it.
const TempDir& config_home() {
  static const TempDir home;
  static const bool pointed = [] {
    g_setenv("XDG_CONFIG_HOME", home.path().c_str(), TRUE);
    return true;
  }();
  (void)pointed;
  return home;
}

fs::path loaded_settings_path() { return config_home().path() / "trackfold" / "trackfold.conf"; }

void write_settings_file(const std::string& contents) {
  fs::create_directories(loaded_settings_path().parent_path());
  write_text(loaded_settings_path(), contents);
}

// Collects the texts of warnings logged without a domain while it lives.
class WarningCatcher {
 public:
  WarningCatcher() {
    id_ = g_log_set_handler(nullptr, G_LOG_LEVEL_WARNING, &WarningCatcher::handle, &texts_);
  }
  ~WarningCatcher() { g_log_remove_handler(nullptr, id_); }
  WarningCatcher(const WarningCatcher&) = delete;
  WarningCatcher& operator=(const WarningCatcher&) = delete;
  const std::vector<std::string>& texts() const { return texts_; }

 private:
  static void handle(const gchar*, GLogLevelFlags, const gchar* message, gpointer data) {
    static_cast<std::vector<std::string>*>(data)->push_back(message);
  }
  guint id_ = 0;
  std::vector<std::string> texts_;
};

TEST(SettingsAccessors, NumberOptionsKeepEveryValueUnchangedAndApart) {
  // Distinct values reveal a setter that writes another option's slot; extremes and a
  // "true" other than 1 reveal range checks or normalising.
  const std::vector<std::int32_t> values = {INT32_MIN, -7, 0, 42, 250, INT32_MAX, -1, 3, 99, 1000, 5, 17};
  const auto& rows = number_options();
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i].set(values[i]);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].key);
    EXPECT_EQ(rows[i].get(), values[i]);
  }
}

TEST(SettingsAccessors, StringOptionsOwnTheirCopyAndKeepNoValueApart) {
  std::string outputdir = "/music/out";
  set_outputdir(outputdir.c_str());
  set_etree_filename_suffix("");
  set_etree_cd_length("74");
  set_settings_filename("/etc/x.conf");
  outputdir.assign("changed by the caller");

  EXPECT_EQ(text(get_outputdir()), "/music/out");
  EXPECT_EQ(text(get_etree_filename_suffix()), "");  // empty is a value, not "no value"
  EXPECT_EQ(text(get_etree_cd_length()), "74");
  EXPECT_EQ(text(get_settings_filename()), "/etc/x.conf");

  set_outputdir(nullptr);
  set_settings_filename(nullptr);
  EXPECT_EQ(get_outputdir(), nullptr);
  EXPECT_EQ(get_settings_filename(), nullptr);
  EXPECT_EQ(text(get_etree_cd_length()), "74");
}

struct LoadCase {
  std::string name;
  std::string file;
  std::vector<std::int32_t> numbers;  // in the order of number_options()
  std::optional<std::string> outputdir, suffix, cd_length;
};

TEST(SettingsLoad, ReadsAParsedFileWithoutRewritingIt) {
  g_setenv("PWD", "/current/dir", TRUE);
  const std::vector<LoadCase> cases = {
      {"every entry",
       "[trackfold]\nconfig_file_version=3\nuse_outputdir=true\noutputdir=/out\n"
       "use_etree_filename_suffix=true\netree_filename_suffix=_\netree_cd_length=74\n"
       "prepend_file_number=true\nmain_window_xpos=10\nmain_window_ypos=20\nmain_window_width=640\n"
       "main_window_height=480\nvpane1_position=100\nvpane2_position=200\nsilence_percentage=7\n"
       "show_moodbar=false\n",
       {3, 1, 1, 1, 10, 20, 640, 480, 100, 200, 7, 0},
       "/out",
       "_",
       "74"},
      {"group only", "[trackfold]\n", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "/current/dir", "-", "80"},
      {"empty suffix is a value",
       "[trackfold]\netree_filename_suffix=\n",
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       "/current/dir",
       "",
       "80"},
      {"malformed numbers and words",
       "[trackfold]\nsilence_percentage=abc\nmain_window_xpos=99999999999\nshow_moodbar=maybe\n"
       "use_outputdir=yes\netree_cd_length=many\n",
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       "/current/dir",
       "-",
       "many"},
      {"other groups only",
       "# a comment\n[editor]\nsilence_percentage=9\n",
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       "/current/dir",
       "-",
       "80"},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    write_settings_file(c.file);
    // Values left by an earlier case must not survive a load.
    for (const NumberOption& row : number_options()) row.set(-55);
    set_outputdir("stale");
    set_etree_filename_suffix("stale");
    set_etree_cd_length("stale");

    WarningCatcher warnings;
    settings_load();

    EXPECT_EQ(text(get_settings_filename()), loaded_settings_path().string());
    for (std::size_t i = 0; i < number_options().size(); ++i) {
      SCOPED_TRACE(number_options()[i].key);
      EXPECT_EQ(number_options()[i].get(), c.numbers[i]);
    }
    EXPECT_EQ(text(get_outputdir()), c.outputdir);
    EXPECT_EQ(text(get_etree_filename_suffix()), c.suffix);
    EXPECT_EQ(text(get_etree_cd_length()), c.cd_length);
    EXPECT_EQ(read_text(loaded_settings_path()), c.file);
    EXPECT_TRUE(warnings.texts().empty());
  }
}

void set_distinct_values() {
  set_config_file_version(2);
  set_use_outputdir(1);
  set_outputdir("/music/out");
  set_use_etree_filename_suffix(0);
  set_etree_filename_suffix("");
  set_etree_cd_length("74");
  set_prepend_file_number(5);  // any non-zero value is true
  set_main_window_xpos(11);
  set_main_window_ypos(22);
  set_main_window_width(333);
  set_main_window_height(444);
  set_vpane1_position(-5);
  set_vpane2_position(66);
  set_silence_percentage(7);
  set_show_moodbar(0);
}

TEST(SettingsSave, KeepsForeignGroupsKeysCommentsAndTranslations) {
  const TempDir dir;
  const std::string path = dir / "trackfold.conf";
  write_text(path,
             "# written by hand\n"
             "[editor]\n"
             "name=value\n"
             "name[de]=Wert\n"
             "\n"
             "[trackfold]\n"
             "# the disc length\n"
             "etree_cd_length=80\n"
             "extra=kept\n");
  set_distinct_values();
  set_settings_filename(path.c_str());

  WarningCatcher warnings;
  settings_save();

  EXPECT_TRUE(warnings.texts().empty());
  EXPECT_EQ(read_text(path),
            "# written by hand\n"
            "\n"
            "[editor]\n"
            "name=value\n"
            "name[de]=Wert\n"
            "\n"
            "[trackfold]\n"
            "# the disc length\n"
            "etree_cd_length=74\n"
            "extra=kept\n"
            "config_file_version=2\n"
            "use_outputdir=true\n"
            "outputdir=/music/out\n"
            "use_etree_filename_suffix=false\n"
            "etree_filename_suffix=\n"
            "prepend_file_number=true\n"
            "main_window_xpos=11\n"
            "main_window_ypos=22\n"
            "main_window_width=333\n"
            "main_window_height=444\n"
            "vpane1_position=-5\n"
            "vpane2_position=66\n"
            "silence_percentage=7\n"
            "show_moodbar=false\n");
}

TEST(SettingsSave, StringWithoutValueWritesNoEntryAndEscapesAreRoundTripped) {
  const TempDir dir;
  const std::string path = dir / "trackfold.conf";
  set_distinct_values();
  set_outputdir(nullptr);
  set_etree_filename_suffix(" lead\tline\nbreak\\slash");
  set_settings_filename(path.c_str());
  settings_save();

  const std::string saved = read_text(path);
  EXPECT_EQ(saved.find("\noutputdir="), std::string::npos);

  // Read back through the loader's own path: the text must come back unchanged.
  write_settings_file(saved);
  set_etree_filename_suffix("stale");
  settings_load();
  EXPECT_EQ(text(get_etree_filename_suffix()), " lead\tline\nbreak\\slash");
}

TEST(SettingsSave, FailureWarnsAndLeavesNothingBehind) {
  const TempDir dir;
  fs::create_directory(dir.path() / "trackfold.conf");  // a folder where the file should be
  set_settings_filename((dir / "trackfold.conf").c_str());
  {
    WarningCatcher warnings;
    settings_save();
    EXPECT_EQ(warnings.texts(), std::vector<std::string>{"Could not save settings"});
  }
  EXPECT_TRUE(fs::is_directory(dir.path() / "trackfold.conf"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  set_settings_filename(nullptr);
  WarningCatcher warnings;
  settings_save();
  EXPECT_EQ(warnings.texts(), std::vector<std::string>{"Could not save settings"});
}

}  // namespace
