#include "formats/tags/id3_tag.h"

#include <cerrno>

#include <glib.h>
#include <taglib/id3v2tag.h>
#include <taglib/tpropertymap.h>

namespace {

void put(TagLib::PropertyMap& properties, const char* key, const std::string& value) {
  if (value.empty()) return;
  properties.insert(key, TagLib::StringList(TagLib::String(value, TagLib::String::UTF8)));
}

std::string track_text(const TrackTags& tags) {
  if (tags.track_number <= 0) return {};
  std::string text = std::to_string(tags.track_number);
  if (tags.track_total > 0) {
    text += '/';
    text += std::to_string(tags.track_total);
  }
  return text;
}

}  // namespace

std::string id3v2_tag_bytes(const TrackTags& tags) {
  TagLib::PropertyMap properties;
  put(properties, "TITLE", tags.title);
  put(properties, "ARTIST", tags.artist);
  put(properties, "ALBUM", tags.album);
  put(properties, "TRACKNUMBER", track_text(tags));
  put(properties, "DATE", tags.date);
  put(properties, "GENRE", tags.genre);
  if (properties.isEmpty()) return {};
  TagLib::ID3v2::Tag tag;
  tag.setProperties(properties);
  const TagLib::ByteVector bytes = tag.render(TagLib::ID3v2::v4);
  return std::string(bytes.data(), bytes.size());
}

bool id3v2_write_tag(std::FILE* out, const TrackTags& tags, std::string_view path) {
  const std::string tag = id3v2_tag_bytes(tags);
  if (std::fwrite(tag.data(), 1, tag.size(), out) == tag.size() && std::fflush(out) == 0) return true;
  g_warning("Could not write the tags of %.*s: %s", static_cast<int>(path.size()), path.data(),
            g_strerror(errno));
  return false;
}
