// The settings store: fifteen typed options shared with the graphical editor through
// one GLib key file, user configuration directory / "trackfold" / "trackfold.conf".
#pragma once

#include <cstdint>
#include <span>
#include <variant>

enum OptionType : std::int32_t { OPTION_STRING = 1, OPTION_INTEGER = 2, OPTION_BOOLEAN = 3 };

// Integer and boolean options use the number accessors, string options the text accessors.
using OptionNumberSetter = void (*)(std::int32_t);
using OptionNumberGetter = std::int32_t (*)();
using OptionTextSetter = void (*)(const char*);
using OptionTextGetter = const char* (*)();

// One row of the option table: the option's key in the settings file and its accessors.
struct OptionEntry {
  const char* key;
  OptionType type;
  std::variant<OptionNumberSetter, OptionTextSetter> setter;
  std::variant<OptionNumberGetter, OptionTextGetter> getter;
};

// The fifteen options in the order in which they are read and written.
std::span<const OptionEntry> settings_option_table();

// Reads the settings file (or creates it from built-in values and defaults). Never ends the
// program: problems are reported as warnings.
void settings_load();
// Writes every option into the settings file, keeping the file's other content.
void settings_save();

// String getters return the held text (valid until the next set) or nullptr for no value;
// string setters keep their own copy, and nullptr stores no value.
const char* get_settings_filename();
void set_settings_filename(const char* path);

std::int32_t get_config_file_version();
void set_config_file_version(std::int32_t value);
std::int32_t get_use_outputdir();
void set_use_outputdir(std::int32_t value);
const char* get_outputdir();
void set_outputdir(const char* value);
std::int32_t get_use_etree_filename_suffix();
void set_use_etree_filename_suffix(std::int32_t value);
const char* get_etree_filename_suffix();
void set_etree_filename_suffix(const char* value);
const char* get_etree_cd_length();
void set_etree_cd_length(const char* value);
std::int32_t get_prepend_file_number();
void set_prepend_file_number(std::int32_t value);
std::int32_t get_main_window_xpos();
void set_main_window_xpos(std::int32_t value);
std::int32_t get_main_window_ypos();
void set_main_window_ypos(std::int32_t value);
std::int32_t get_main_window_width();
void set_main_window_width(std::int32_t value);
std::int32_t get_main_window_height();
void set_main_window_height(std::int32_t value);
std::int32_t get_vpane1_position();
void set_vpane1_position(std::int32_t value);
std::int32_t get_vpane2_position();
void set_vpane2_position(std::int32_t value);
std::int32_t get_silence_percentage();
void set_silence_percentage(std::int32_t value);
std::int32_t get_show_moodbar();
void set_show_moodbar(std::int32_t value);
