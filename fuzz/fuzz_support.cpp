#include "fuzz_support.h"

#include <glib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "breaks/break_file.h"
#include "formats/format.h"
#include "settings/settings.h"

namespace tfold_fuzz {

namespace {

struct ScratchDir {
  std::string path;

  ScratchDir() {
    const std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : g_get_tmp_dir();
    std::string pattern = base + "/tfold-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) fail("mkdtemp", __FILE__, __LINE__);
    path = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

void drop_log_line(const gchar* /*domain*/, GLogLevelFlags level, const gchar* message,
                   gpointer /*data*/) {
  if ((level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR)) != 0) {
    std::fprintf(stderr, "GLib critical: %s\n", message);
    std::abort();
  }
}

struct Visit {
  const TrackBreakList* list;
  std::int32_t next = 0;
};

void check_visit(std::int32_t index, std::int32_t write, std::uint64_t start, std::uint64_t end,
                 const std::string& name, void* user_data) {
  auto& visit = *static_cast<Visit*>(user_data);
  const auto& breaks = visit.list->breaks;
  FUZZ_CHECK(index == visit.next);
  FUZZ_CHECK(static_cast<std::size_t>(index) < breaks.size());
  const TrackBreak& brk = breaks[static_cast<std::size_t>(index)];
  FUZZ_CHECK(write == brk.write);
  FUZZ_CHECK(start == brk.offset);
  const bool last = static_cast<std::size_t>(index) + 1 == breaks.size();
  FUZZ_CHECK(end == (last ? visit.list->length : breaks[static_cast<std::size_t>(index) + 1].offset));
  if (brk.filename) FUZZ_CHECK(name == *brk.filename);
  ++visit.next;
}

void visit_all(const TrackBreakList& list) {
  Visit visit{&list};
  track_break_list_foreach(list, check_visit, &visit);
  FUZZ_CHECK(static_cast<std::size_t>(visit.next) == list.breaks.size());
}

}  // namespace

void fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

const std::string& scratch_dir() {
  static const ScratchDir dir;
  return dir.path;
}

std::string write_input(const char* name, const std::uint8_t* data, std::size_t size) {
  std::string path = scratch_dir() + "/" + name;
  FilePtr fp(std::fopen(path.c_str(), "wb"));
  if (!fp || std::fwrite(data, 1, size, fp.get()) != size || std::fclose(fp.release()) != 0) {
    fail("writing the input file", __FILE__, __LINE__);
  }
  return path;
}

void quiet_glib_logging() { g_log_set_default_handler(drop_log_line, nullptr); }

void name_every_break(const TrackBreakList& list) {
  set_use_etree_filename_suffix(0);
  set_prepend_file_number(0);
  visit_all(list);
  set_prepend_file_number(1);
  visit_all(list);
  set_use_etree_filename_suffix(1);
  for (const char* disc_length : {"80", "1", "0", "-74"}) {
    set_etree_cd_length(disc_length);
    visit_all(list);
  }
  set_use_etree_filename_suffix(0);
  set_prepend_file_number(0);
  set_etree_cd_length(nullptr);
}

std::vector<std::uint64_t> offsets_of(const TrackBreakList& list) {
  std::vector<std::uint64_t> offsets;
  for (const TrackBreak& brk : list.breaks) offsets.push_back(brk.offset);
  return offsets;
}

void fuzz_time_coded_list(const std::uint8_t* data, std::size_t size, const char* input_name,
                          BreakListWriter writer, BreakListReader reader) {
  const std::string path = write_input(input_name, data, size);
  TrackBreakListPtr list = track_break_list_new("fuzz");
  track_break_list_set_length(*list, NO_END);
  if (track_break_list_read(path, *list) == 0) return;
  name_every_break(*list);
  // Larger offsets can only come from the TXT fallback; the time codes cannot hold them.
  if (!list->breaks.empty() && list->breaks.back().offset > 0xFFFFFFFFu) return;

  const std::string out = scratch_dir() + "/written-" + input_name;
  FUZZ_CHECK(writer(out, "audio.wav", *list) == 1);
  TrackBreakListPtr again = track_break_list_new(list->basename);
  track_break_list_set_length(*again, NO_END);
  FUZZ_CHECK(reader(out, *again) == 1);
  FUZZ_CHECK(offsets_of(*again) == offsets_of(*list));
}

}  // namespace tfold_fuzz
