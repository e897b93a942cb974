#include "settings/settings.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr const char* SETTINGS_GROUP = "trackfold";

// Process-wide option values with their built-in values; written only at start.
struct Options {
  std::int32_t config_file_version = 2;
  std::int32_t use_outputdir = 0;
  std::int32_t use_etree_filename_suffix = 0;
  std::int32_t prepend_file_number = 0;
  std::int32_t main_window_xpos = -1;
  std::int32_t main_window_ypos = -1;
  std::int32_t main_window_width = -1;
  std::int32_t main_window_height = -1;
  std::int32_t vpane1_position = -1;
  std::int32_t vpane2_position = -1;
  std::int32_t silence_percentage = 2;
  std::int32_t show_moodbar = 1;
  std::optional<std::string> settings_filename;
  std::optional<std::string> outputdir;
  std::optional<std::string> etree_filename_suffix;
  std::optional<std::string> etree_cd_length;
};

Options& options() {
  static Options instance;
  return instance;
}

const char* text_of(const std::optional<std::string>& slot) { return slot ? slot->c_str() : nullptr; }

void store(std::optional<std::string>& slot, const char* value) {
  if (value != nullptr) {
    slot.emplace(value);
  } else {
    slot.reset();
  }
}

struct GFreeDeleter {
  void operator()(gchar* text) const { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

struct KeyFileDeleter {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFilePtr = std::unique_ptr<GKeyFile, KeyFileDeleter>;

struct ErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;

constexpr OptionEntry option_row(const char* key, void (*setter)(std::int32_t), std::int32_t (*getter)(),
                                 OptionType type) {
  return {key, type, setter, getter};
}

constexpr OptionEntry option_row(const char* key, void (*setter)(const char*), const char* (*getter)()) {
  return {key, OPTION_STRING, setter, getter};
}

// Load and save walk this table in order, so it is also the order of the file's entries.
constexpr std::array OPTION_TABLE = {
    option_row("config_file_version", set_config_file_version, get_config_file_version, OPTION_INTEGER),
    option_row("use_outputdir", set_use_outputdir, get_use_outputdir, OPTION_BOOLEAN),
    option_row("outputdir", set_outputdir, get_outputdir),
    option_row("use_etree_filename_suffix", set_use_etree_filename_suffix, get_use_etree_filename_suffix,
               OPTION_BOOLEAN),
    option_row("etree_filename_suffix", set_etree_filename_suffix, get_etree_filename_suffix),
    option_row("etree_cd_length", set_etree_cd_length, get_etree_cd_length),
    option_row("prepend_file_number", set_prepend_file_number, get_prepend_file_number, OPTION_BOOLEAN),
    option_row("main_window_xpos", set_main_window_xpos, get_main_window_xpos, OPTION_INTEGER),
    option_row("main_window_ypos", set_main_window_ypos, get_main_window_ypos, OPTION_INTEGER),
    option_row("main_window_width", set_main_window_width, get_main_window_width, OPTION_INTEGER),
    option_row("main_window_height", set_main_window_height, get_main_window_height, OPTION_INTEGER),
    option_row("vpane1_position", set_vpane1_position, get_vpane1_position, OPTION_INTEGER),
    option_row("vpane2_position", set_vpane2_position, get_vpane2_position, OPTION_INTEGER),
    option_row("silence_percentage", set_silence_percentage, get_silence_percentage, OPTION_INTEGER),
    option_row("show_moodbar", set_show_moodbar, get_show_moodbar, OPTION_BOOLEAN),
};

// A row whose type disagrees with its accessors would make std::get throw at start.
constexpr bool rows_match_their_types() {
  for (const OptionEntry& row : OPTION_TABLE) {
    const bool text_accessors = std::holds_alternative<OptionTextSetter>(row.setter) &&
                                std::holds_alternative<OptionTextGetter>(row.getter);
    const bool number_accessors = std::holds_alternative<OptionNumberSetter>(row.setter) &&
                                  std::holds_alternative<OptionNumberGetter>(row.getter);
    if ((row.type == OPTION_STRING) != text_accessors) return false;
    if ((row.type != OPTION_STRING) != number_accessors) return false;
  }
  return true;
}
static_assert(rows_match_their_types());

void warn_invalid_type(const OptionEntry& row) {
  g_warning("Invalid option type: %d\n", static_cast<int>(row.type));
}

void read_option(GKeyFile* file, const OptionEntry& row) {
  switch (row.type) {
    case OPTION_STRING: {
      const GText text(g_key_file_get_string(file, SETTINGS_GROUP, row.key, nullptr));
      std::get<OptionTextSetter>(row.setter)(text.get());
      return;
    }
    case OPTION_BOOLEAN:
      std::get<OptionNumberSetter>(row.setter)(g_key_file_get_boolean(file, SETTINGS_GROUP, row.key, nullptr));
      return;
    case OPTION_INTEGER:
      std::get<OptionNumberSetter>(row.setter)(g_key_file_get_integer(file, SETTINGS_GROUP, row.key, nullptr));
      return;
  }
  warn_invalid_type(row);
}

void write_option(GKeyFile* file, const OptionEntry& row) {
  switch (row.type) {
    case OPTION_STRING:
      if (const char* text = std::get<OptionTextGetter>(row.getter)()) {
        g_key_file_set_string(file, SETTINGS_GROUP, row.key, text);
      }
      return;
    case OPTION_BOOLEAN:
      g_key_file_set_boolean(file, SETTINGS_GROUP, row.key, std::get<OptionNumberGetter>(row.getter)() != 0);
      return;
    case OPTION_INTEGER:
      g_key_file_set_integer(file, SETTINGS_GROUP, row.key, std::get<OptionNumberGetter>(row.getter)());
      return;
  }
  warn_invalid_type(row);
}

// Only regular files are parsed: opening a FIFO or a device at the settings path would block
// or read without end, and settings must never stop the program. On failure, why (when a
// regular file was there) goes to *error.
bool parse_settings_file(GKeyFile* file, const char* path, GKeyFileFlags flags, ErrorPtr* error = nullptr) {
  if (path == nullptr || !g_file_test(path, G_FILE_TEST_IS_REGULAR)) return false;
  GError* raw_error = nullptr;
  const bool parsed = g_key_file_load_from_file(file, path, flags, &raw_error);
  ErrorPtr owned(raw_error);
  if (error != nullptr) *error = std::move(owned);
  return parsed;
}

// Writes bytes into a new file; false (errno set) when it exists or cannot be written whole.
bool write_new_file(const std::string& path, std::string_view bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      const int error = put < 0 ? errno : ENOSPC;
      close(fd);
      unlink(path.c_str());
      errno = error;
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  if (close(fd) != 0) {
    const int error = errno;
    unlink(path.c_str());
    errno = error;
    return false;
  }
  return true;
}

// Copies the settings file to PATH.broken, or PATH.broken.N for the first N free. The copy's
// path, or std::nullopt after a warning when the bytes could not be kept.
std::optional<std::string> keep_broken_copy(const char* path) {
  gchar* raw_bytes = nullptr;
  gsize size = 0;
  GError* raw_error = nullptr;
  if (!g_file_get_contents(path, &raw_bytes, &size, &raw_error)) {
    const ErrorPtr error(raw_error);
    g_warning("Could not keep a copy of settings file %s: %s", path, error->message);
    return std::nullopt;
  }
  const GText bytes(raw_bytes);
  const std::string_view contents(bytes.get(), size);
  for (int number = 0;; ++number) {
    std::string copy = std::string(path) + ".broken";
    if (number > 0) {
      copy += '.';
      copy += std::to_string(number);
    }
    if (write_new_file(copy, contents)) return copy;
    if (errno != EEXIST) {
      g_warning("Could not keep a copy of settings file %s as %s: %s", path, copy.c_str(), g_strerror(errno));
      return std::nullopt;
    }
  }
}

// A settings file that does not parse is somebody's work: its bytes are kept beside it before
// the defaults replace it. true when it may be replaced.
bool keep_unparsed_file(const char* path, const GError& error) {
  // A file that cannot even be read cannot be kept, so it is not replaced either.
  if (error.domain != G_KEY_FILE_ERROR) {
    g_warning("Could not read settings file %s: %s; using the defaults and leaving it as it is", path,
              error.message);
    return false;
  }
  const std::optional<std::string> copy = keep_broken_copy(path);
  if (!copy) return false;
  g_warning("Settings file %s does not parse (%s); kept it as %s and wrote the defaults in its place", path,
            error.message, copy->c_str());
  return true;
}

void create_settings_directory(const char* path) {
  const GText directory(g_path_get_dirname(path));
  if (g_mkdir_with_parents(directory.get(), 0700) != 0) {
    g_warning("Could not create configuration directory: %s", directory.get());
  }
}

void supply_string_defaults() {
  if (get_outputdir() == nullptr) set_outputdir(g_getenv("PWD"));
  if (get_etree_filename_suffix() == nullptr) set_etree_filename_suffix("-");
  if (get_etree_cd_length() == nullptr) set_etree_cd_length("80");
}

}  // namespace

std::span<const OptionEntry> settings_option_table() { return OPTION_TABLE; }

void settings_load() {
  const GText path(g_build_path("/", g_get_user_config_dir(), "trackfold", "trackfold.conf", nullptr));
  set_settings_filename(path.get());
  create_settings_directory(path.get());

  const KeyFilePtr file(g_key_file_new());
  ErrorPtr error;
  const bool parsed = parse_settings_file(file.get(), path.get(), G_KEY_FILE_NONE, &error);
  if (parsed) {
    for (const OptionEntry& row : OPTION_TABLE) read_option(file.get(), row);
  }
  supply_string_defaults();
  if (!parsed && (!error || keep_unparsed_file(path.get(), *error))) settings_save();
}

void settings_save() {
  const char* path = get_settings_filename();
  if (path == nullptr) {
    g_warning("Could not save settings");
    return;
  }
  // Translations are kept too: the rewrite must not drop localised entries of other keys.
  KeyFilePtr file(g_key_file_new());
  // What a failed parse read before its error is no file's content: the defaults start afresh.
  if (!parse_settings_file(file.get(), path,
                           static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS))) {
    file.reset(g_key_file_new());
  }
  for (const OptionEntry& row : OPTION_TABLE) write_option(file.get(), row);

  GError* raw_error = nullptr;
  if (!g_key_file_save_to_file(file.get(), path, &raw_error)) {
    const ErrorPtr error(raw_error);
    g_debug("Saving %s: %s", path, error->message);
    g_warning("Could not save settings");
  }
}

std::int32_t get_config_file_version() { return options().config_file_version; }
void set_config_file_version(std::int32_t value) { options().config_file_version = value; }
std::int32_t get_use_outputdir() { return options().use_outputdir; }
void set_use_outputdir(std::int32_t value) { options().use_outputdir = value; }
std::int32_t get_use_etree_filename_suffix() { return options().use_etree_filename_suffix; }
void set_use_etree_filename_suffix(std::int32_t value) { options().use_etree_filename_suffix = value; }
std::int32_t get_prepend_file_number() { return options().prepend_file_number; }
void set_prepend_file_number(std::int32_t value) { options().prepend_file_number = value; }
std::int32_t get_main_window_xpos() { return options().main_window_xpos; }
void set_main_window_xpos(std::int32_t value) { options().main_window_xpos = value; }
std::int32_t get_main_window_ypos() { return options().main_window_ypos; }
void set_main_window_ypos(std::int32_t value) { options().main_window_ypos = value; }
std::int32_t get_main_window_width() { return options().main_window_width; }
void set_main_window_width(std::int32_t value) { options().main_window_width = value; }
std::int32_t get_main_window_height() { return options().main_window_height; }
void set_main_window_height(std::int32_t value) { options().main_window_height = value; }
std::int32_t get_vpane1_position() { return options().vpane1_position; }
void set_vpane1_position(std::int32_t value) { options().vpane1_position = value; }
std::int32_t get_vpane2_position() { return options().vpane2_position; }
void set_vpane2_position(std::int32_t value) { options().vpane2_position = value; }
std::int32_t get_silence_percentage() { return options().silence_percentage; }
void set_silence_percentage(std::int32_t value) { options().silence_percentage = value; }
std::int32_t get_show_moodbar() { return options().show_moodbar; }
void set_show_moodbar(std::int32_t value) { options().show_moodbar = value; }
const char* get_settings_filename() { return text_of(options().settings_filename); }
void set_settings_filename(const char* value) { store(options().settings_filename, value); }
const char* get_outputdir() { return text_of(options().outputdir); }
void set_outputdir(const char* value) { store(options().outputdir, value); }
const char* get_etree_filename_suffix() { return text_of(options().etree_filename_suffix); }
void set_etree_filename_suffix(const char* value) { store(options().etree_filename_suffix, value); }
const char* get_etree_cd_length() { return text_of(options().etree_cd_length); }
void set_etree_cd_length(const char* value) { store(options().etree_cd_length, value); }
