#include "formats/tags/vorbis_comments.h"

#include <glib.h>

#include <algorithm>
#include <iterator>
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

// The field name of a comment; a comment without '=' is all name.
std::string_view name_of(std::string_view comment) { return comment.substr(0, comment.find('=')); }

bool same_name(std::string_view name, std::string_view field) {
  return name.size() == field.size() && g_ascii_strncasecmp(name.data(), field.data(), field.size()) == 0;
}

bool names_field(std::string_view comment, const Field& field) {
  const std::size_t equals = comment.find('=');
  if (equals == std::string_view::npos) return false;
  const std::string name(comment.substr(0, equals));
  return g_ascii_strcasecmp(name.c_str(), field.name) == 0;
}

// The value of comment ("FIELD=value") when its field is field (in any ASCII case).
std::optional<std::string_view> vorbis_comment_value(std::string_view comment, std::string_view field) {
  const std::size_t equals = comment.find('=');
  if (equals == std::string_view::npos || !same_name(comment.substr(0, equals), field)) return std::nullopt;
  return comment.substr(equals + 1);
}

}  // namespace

bool vorbis_comment_describes_source(std::string_view comment) {
  static constexpr std::string_view WHOLE_SOURCE[] = {"CUESHEET", "LOG", "TRACKNUMBER", "TRACKTOTAL",
                                                      "TOTALTRACKS"};
  static constexpr std::string_view TRACK_GAIN = "REPLAYGAIN_TRACK_";
  const std::string_view name = name_of(comment);
  if (same_name(name.substr(0, TRACK_GAIN.size()), TRACK_GAIN)) return true;
  return std::any_of(std::begin(WHOLE_SOURCE), std::end(WHOLE_SOURCE),
                     [&](std::string_view field) { return same_name(name, field); });
}


std::optional<EmbeddedSheet> vorbis_comments_sheet(std::span<const std::string_view> comments) {
  for (const std::string_view comment : comments) {
    if (const std::optional<std::string_view> text = vorbis_comment_value(comment, "CUESHEET")) {
      EmbeddedSheet sheet;
      sheet.text = std::string(*text);
      return sheet;
    }
  }
  return std::nullopt;
}

std::vector<std::string> vorbis_comments_of_part(std::span<const std::string> source) {
  std::vector<std::string> kept;
  for (const std::string& comment : source) {
    if (!vorbis_comment_describes_source(comment)) kept.push_back(comment);
  }
  return kept;
}

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
