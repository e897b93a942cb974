#include "settings/settings.h"

#include <optional>
#include <string>

namespace {

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
    slot = value;
  } else {
    slot.reset();
  }
}

}  // namespace

void settings_load() {}
void settings_save() {}

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
