// The settings load on arbitrary bytes in the settings file: it must never end the process
// (libFuzzer reports an exit during a run as a crash), and the naming options it sets must be
// usable by the naming of a small break list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "breaks/naming.h"
#include "breaks/track_break_list.h"
#include "fuzz_support.h"
#include "settings/settings.h"

using namespace tfold_fuzz;

namespace {

std::string settings_path;

void name_sample_list() {
  TrackBreakListPtr list = track_break_list_new("concert");
  track_break_list_set_length(*list, 4500 * 100);
  track_break_list_add(*list, 1, 0, std::nullopt);
  track_break_list_add(*list, 0, 4500 * 30, std::nullopt);
  track_break_list_add(*list, 1, 4500 * 75, std::nullopt);
  track_break_list_add(*list, 1, 4500 * 90, "encore");
  track_break_list_foreach(
      *list,
      [](std::int32_t, std::int32_t, std::uint64_t, std::uint64_t, const std::string& name, void*) {
        FUZZ_CHECK(!name.empty());
      },
      nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // GLib reads the configuration folder once, at its first use: it must be ours before that.
  const std::string config = scratch_dir() + "/config";
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  setenv("HOME", scratch_dir().c_str(), 1);
  quiet_glib_logging();
  std::filesystem::create_directories(config + "/trackfold");
  settings_path = config + "/trackfold/trackfold.conf";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  write_input("config/trackfold/trackfold.conf", data, size);
  settings_load();
  FUZZ_CHECK(get_settings_filename() != nullptr && get_settings_filename() == settings_path);
  FUZZ_CHECK(get_outputdir() != nullptr);
  FUZZ_CHECK(get_etree_filename_suffix() != nullptr);
  FUZZ_CHECK(get_etree_cd_length() != nullptr);
  name_sample_list();
  // A file that does not parse is kept byte for byte before the defaults replace it; the copy
  // goes again so that the next input's copy has the same name.
  const std::string broken = settings_path + ".broken";
  if (std::filesystem::exists(broken)) {
    std::ifstream kept(broken, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    FUZZ_CHECK(bytes == std::string(reinterpret_cast<const char*>(data), size));
    std::filesystem::remove(broken);
  }
  return 0;
}
