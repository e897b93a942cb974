#include "breaks/metadata.h"

#include <glib.h>

#include "breaks/text_decoding.h"

std::string metadata_drop_controls(std::string_view text) {
  std::string result;
  const char* const end = text.data() + text.size();
  for (const char* at = text.data(); at < end;) {
    const char* next = g_utf8_find_next_char(at, end);
    if (next == nullptr) next = end;
    if (!g_unichar_iscntrl(g_utf8_get_char(at))) result.append(at, next);
    at = next;
  }
  return result;
}

std::string metadata_clean_text(std::string_view raw) {
  std::string text = metadata_drop_controls(text_make_valid_utf8(raw));
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

TrackTags track_break_list_tags(const TrackBreakList& list, std::size_t position) {
  const TrackMetadata& track = list.breaks[position].metadata;
  TrackTags tags;
  tags.title = track.title;
  tags.artist = track.performer.empty() ? list.album.performer : track.performer;
  tags.album = list.album.title;
  tags.date = list.album.date;
  tags.genre = list.album.genre;
  tags.track_number = static_cast<int>(position + 1);
  tags.track_total = static_cast<int>(list.breaks.size());
  return tags;
}
