#include "fuzz_support.h"

#include <glib.h>
#include <sanitizer/allocator_interface.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "breaks/break_file.h"
#include "breaks/metadata.h"
#include "breaks/naming.h"
#include "formats/format.h"
#include "formats/tags/id3_tag.h"
#include "formats/tags/vorbis_comments.h"
#include "formats/wav/wav_info.h"
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
  // A file name keeps every byte of the list's name but its ASCII control bytes.
  if (brk.filename) {
    std::string expected;
    for (const char c : *brk.filename) {
      if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) expected += c;
    }
    FUZZ_CHECK(name == expected);
  }
  ++visit.next;
}

void visit_all(const TrackBreakList& list) {
  Visit visit{&list};
  track_break_list_foreach(list, check_visit, &visit);
  FUZZ_CHECK(static_cast<std::size_t>(visit.next) == list.breaks.size());
}

bool is_clean_text(const std::string& text) {
  if (g_utf8_validate_len(text.data(), text.size(), nullptr) == FALSE) return false;
  for (const char* at = text.c_str(); *at != '\0'; at = g_utf8_next_char(at)) {
    if (g_unichar_iscntrl(g_utf8_get_char(at))) return false;
  }
  return true;
}

void check_templated_name(std::int32_t /*index*/, std::int32_t /*write*/, std::uint64_t /*start*/,
                          std::uint64_t /*end*/, const std::string& name, void* /*user_data*/) {
  FUZZ_CHECK(is_clean_text(name));
  FUZZ_CHECK(!name.empty());
  std::string_view rest = name;
  while (true) {
    const std::size_t slash = rest.find('/');
    const std::string_view component = rest.substr(0, slash);
    FUZZ_CHECK(!component.empty() && component != "." && component != "..");
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
}

// The tags of the last track: it has the texts of the last TRACK entry, which the parser may
// have left half read. Rendering the ID3 tag costs more than the rest of a run, so one track.
void check_tags(const TrackBreakList& list) {
  if (list.breaks.empty()) return;
  const std::vector<std::string> source = {"TITLE=whole", "ENCODER=fuzz", "tracknumber=9"};
  const TrackTags tags = track_break_list_tags(list, list.breaks.size() - 1);
  const std::vector<std::string> comments = vorbis_comments_for_track(source, tags);
  FUZZ_CHECK(std::count(comments.begin(), comments.end(),
                        "TRACKNUMBER=" + std::to_string(list.breaks.size())) == 1);
  const std::string chunk = wav_info_chunk(tags);
  FUZZ_CHECK(chunk.size() % 2 == 0 && chunk.size() >= 12 && chunk.compare(0, 4, "LIST") == 0);
  FUZZ_CHECK(id3v2_tag_bytes(tags).compare(0, 3, "ID3") == 0);
}

// The most memory held at once since the last reset, as the allocator counts it.
std::atomic<std::size_t> peak_bytes{0};

void note_allocation(const volatile void* /*pointer*/, std::size_t /*size*/) {
  const std::size_t now = __sanitizer_get_current_allocated_bytes();
  std::size_t seen = peak_bytes.load(std::memory_order_relaxed);
  while (now > seen && !peak_bytes.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
  }
}

void note_free(const volatile void* /*pointer*/) {}

}  // namespace

void check_metadata_read(const std::uint8_t* data, std::size_t size, const std::string& path,
                         int plain_result, const TrackBreakList& plain) {
  static const char* const CHARSETS[] = {"", "WINDOWS-1251", "SHIFT_JIS", "UTF-16LE"};
  BreakFileReading reading;
  reading.metadata = true;
  reading.charset = size > 0 ? CHARSETS[data[0] % 4] : "";
  TrackBreakListPtr list = track_break_list_new("fuzz");
  track_break_list_set_length(*list, NO_END);
  list->name_format = "%n %t/%p %a (%y) %%";
  const int result = track_break_list_read(path, *list, reading);

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (g_utf8_validate_len(bytes.data(), bytes.size(), nullptr) && !bytes.starts_with("\xEF\xBB\xBF")) {
    FUZZ_CHECK(result == plain_result);
    if (result != 0) FUZZ_CHECK(offsets_of(*list) == offsets_of(plain));
  }
  if (result == 0) return;
  for (const std::string* text : {&list->album.title, &list->album.performer, &list->album.date,
                                  &list->album.genre}) {
    FUZZ_CHECK(is_clean_text(*text));
  }
  for (const TrackBreak& brk : list->breaks) {
    FUZZ_CHECK(is_clean_text(brk.metadata.title));
    FUZZ_CHECK(is_clean_text(brk.metadata.performer));
    FUZZ_CHECK(is_clean_text(brk.metadata.isrc));
  }
  track_break_list_foreach(*list, check_templated_name, nullptr);
  check_tags(*list);
}

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

int read_list_in_bounded_memory(const std::string& path, std::size_t size, TrackBreakList& list,
                                BreakListReader reader) {
  static const bool hooked = __sanitizer_install_malloc_and_free_hooks(note_allocation, note_free) != 0;
  FUZZ_CHECK(hooked);
  const std::size_t before = __sanitizer_get_current_allocated_bytes();
  peak_bytes = before;
  const int result = reader(path, list, BreakFileReading{});
  const std::size_t held = peak_bytes - before;
  // The file's text and a copy, each break's record in a growing array with its name and line,
  // and the fixed cost of opening a file; a kept line or token costs tens of times its bytes.
  FUZZ_CHECK(held <= 4 * size + 1024 * list.breaks.size() + 256 * 1024);
  return result;
}

void fuzz_time_coded_list(const std::uint8_t* data, std::size_t size, const char* input_name,
                          BreakListWriter writer, BreakListReader reader) {
  const std::string path = write_input(input_name, data, size);
  TrackBreakListPtr list = track_break_list_new("fuzz");
  track_break_list_set_length(*list, NO_END);
  const int result = read_list_in_bounded_memory(path, size, *list, track_break_list_read);
  check_metadata_read(data, size, path, result, *list);
  if (result == 0) return;
  name_every_break(*list);
  // Larger offsets can only come from the TXT fallback; the time codes cannot hold them.
  if (!list->breaks.empty() && list->breaks.back().offset > 0xFFFFFFFFu) return;

  const std::string out = scratch_dir() + "/written-" + input_name;
  FUZZ_CHECK(writer(out, "audio.wav", *list) == 1);
  TrackBreakListPtr again = track_break_list_new(list->basename);
  track_break_list_set_length(*again, NO_END);
  FUZZ_CHECK(reader(out, *again, BreakFileReading{}) == 1);
  FUZZ_CHECK(offsets_of(*again) == offsets_of(*list));
}

}  // namespace tfold_fuzz
