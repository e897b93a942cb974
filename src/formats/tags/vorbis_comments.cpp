#include "formats/tags/vorbis_comments.h"

#include <glib.h>

#include <algorithm>
#include <string_view>

namespace {

struct Field {
  const char* name;
  std::string value;
};

std::vector<Field> fields_of(const TrackTags& tags) {
  std::vector<Field> fields = {
      {"TITLE", tags.title},
      {"ARTIST", tags.artist},
      {"ALBUM", tags.album},
      {"TRACKNUMBER", tags.track_number > 0 ? std::to_string(tags.track_number) : ""},
      {"TRACKTOTAL", tags.track_total > 0 ? std::to_string(tags.track_total) : ""},
      {"DATE", tags.date},
      {"GENRE", tags.genre},
  };
  std::erase_if(fields, [](const Field& field) { return field.value.empty(); });
  return fields;
}

bool names_field(std::string_view comment, const Field& field) {
  const std::size_t equals = comment.find('=');
  if (equals == std::string_view::npos) return false;
  const std::string name(comment.substr(0, equals));
  return g_ascii_strcasecmp(name.c_str(), field.name) == 0;
}

}  // namespace

std::vector<std::string> vorbis_comments_for_track(std::span<const std::string> source,
                                                   const TrackTags& tags) {
  const std::vector<Field> fields = fields_of(tags);
  std::vector<std::string> comments;
  for (const std::string& comment : source) {
    const bool replaced = std::any_of(fields.begin(), fields.end(), [&](const Field& field) {
      return names_field(comment, field);
    });
    if (!replaced) comments.push_back(comment);
  }
  for (const Field& field : fields) comments.push_back(std::string(field.name) + "=" + field.value);
  return comments;
}
