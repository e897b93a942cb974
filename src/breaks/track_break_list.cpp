#include "breaks/track_break_list.h"

#include <glib.h>

#include <algorithm>


TrackBreakListPtr track_break_list_new(std::string_view basename) {
  auto list = std::make_unique<TrackBreakList>();
  list->basename = std::string(basename);
  return list;
}

void track_break_list_free(TrackBreakListPtr /*list*/) {}

void track_break_list_clear(TrackBreakList& list) {
  list.breaks.clear();
  list.album = AlbumMetadata{};
  list.written_tracks_left_out = 0;
}

void track_break_list_set_length(TrackBreakList& list, std::uint64_t length) {
  list.length = length;
}

TrackBreak* track_break_list_add(TrackBreakList& list, std::int32_t write, std::uint64_t offset,
                                 std::optional<std::string_view> filename) {
  if (offset > list.length) {
    g_warning("Offset out of range");
    return nullptr;
  }
  // Offsets are strictly ascending, so one binary search finds both a duplicate and the
  // insertion point; long lists stay cheap to fill.
  auto at = std::lower_bound(
      list.breaks.begin(), list.breaks.end(), offset,
      [](const TrackBreak& brk, std::uint64_t value) { return brk.offset < value; });
  if (at != list.breaks.end() && at->offset == offset) return &*at;

  TrackBreak brk;
  brk.write = write;
  brk.offset = offset;
  if (filename) brk.filename = std::string(*filename);
  return &*list.breaks.insert(at, std::move(brk));
}

TrackBreak* track_break_list_find(TrackBreakList& list, std::uint64_t offset) {
  auto at = std::lower_bound(
      list.breaks.begin(), list.breaks.end(), offset,
      [](const TrackBreak& brk, std::uint64_t value) { return brk.offset < value; });
  return at != list.breaks.end() && at->offset == offset ? &*at : nullptr;
}

void track_break_list_remove_nth(TrackBreakList& list, std::size_t n) {
  list.breaks.erase(list.breaks.begin() + static_cast<std::ptrdiff_t>(n));
}

void track_break_set_filename(TrackBreak& brk, std::optional<std::string_view> filename) {
  if (filename && !filename->empty()) {
    brk.filename = std::string(*filename);
  } else {
    brk.filename.reset();
  }
}

void track_break_list_clear_filenames(TrackBreakList& list) {
  for (TrackBreak& brk : list.breaks) brk.filename.reset();
}

int track_break_compare(const TrackBreak& a, const TrackBreak& b) {
  if (a.offset < b.offset) return -1;
  if (a.offset > b.offset) return 1;
  return 0;
}
