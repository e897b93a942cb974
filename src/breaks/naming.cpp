#include "breaks/naming.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "breaks/name_format.h"
#include "breaks/printf_string.h"
#include "settings/settings.h"

namespace {

// Before the settings are loaded the string options have no value; their defaults apply.
const char* separator() {
  const char* text = get_etree_filename_suffix();
  return text != nullptr ? text : "-";
}

std::int32_t disc_length_minutes() {
  const char* text = get_etree_cd_length();
  return std::atoi(text != nullptr ? text : "80");
}

// Whole minutes of a track, rounded up; wraps like the unsigned arithmetic it stands for.
std::uint64_t track_minutes(std::uint64_t start, std::uint64_t end) {
  return (end - start + 4499) / 4500;
}

// A name from a list without its ASCII control bytes (escape sequences, BEL, CR, tab): they
// have no place in a file name. Bytes above ASCII stay as they are, whatever the charset.
std::string without_control_bytes(std::string_view name) {
  std::string result;
  result.reserve(name.size());
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) result += c;
  }
  return result;
}

}  // namespace

std::uint64_t track_break_end(const TrackBreakList& list, std::size_t i) {
  return i + 1 < list.breaks.size() ? list.breaks[i + 1].offset : list.length;
}

std::string TrackNamer::name(std::size_t position) {
  return list_.name_format ? formatted_name(position) : plain_name(position);
}

std::string TrackNamer::formatted_name(std::size_t position) {
  const TrackBreak& brk = list_.breaks[position];
  const AlbumMetadata& album = list_.album;
  // Without a title of its own a track is called what it would be called without template.
  const std::string plain = plain_name(position);
  NameFields fields;
  fields.number = static_cast<int>(position + 1);
  fields.title = brk.metadata.title.empty() ? plain : brk.metadata.title;
  fields.performer = brk.metadata.performer.empty() ? album.performer : brk.metadata.performer;
  fields.album = album.title;
  fields.year = name_format_year(album.date);
  std::string name = name_format_expand(*list_.name_format, fields);
  return name.empty() ? plain : name;
}

std::string TrackNamer::plain_name(std::size_t position) {
  const TrackBreak& brk = list_.breaks[position];
  if (brk.filename) return without_control_bytes(*brk.filename);
  const int number = static_cast<int>(position + 1);
  if (get_use_etree_filename_suffix() != 0) return disc_and_track_name(position);
  if (get_prepend_file_number() != 0) {
    return printf_string("%02d%s%s", number, separator(), list_.basename.c_str());
  }
  return printf_string("%s%s%02d", list_.basename.c_str(), separator(), number);
}

std::string TrackNamer::disc_and_track_name(std::size_t position) {
  const std::int32_t disc_length = disc_length_minutes();
  if (position < walk_.next || disc_length != walk_.disc_length) {
    walk_ = DiscWalk{};
    walk_.disc_length = disc_length;
  }
  for (; walk_.next <= position; ++walk_.next) {
    const std::uint64_t minutes =
        track_minutes(list_.breaks[walk_.next].offset, track_break_end(list_, walk_.next));
    // A track longer than a disc leaves the remainder negative; compared as signed values
    // the next track then opens a new disc instead of piling onto an overfull one. Minutes
    // stay below 2^64 / 4500, so they fit a signed 64-bit value.
    if (static_cast<std::int64_t>(minutes) > walk_.remainder) {
      ++walk_.disc;
      walk_.track = 1;
      walk_.remainder = static_cast<std::int32_t>(static_cast<std::uint32_t>(disc_length) -
                                                  static_cast<std::uint32_t>(minutes));
    } else {
      ++walk_.track;
      walk_.remainder = static_cast<std::int32_t>(static_cast<std::uint32_t>(walk_.remainder) -
                                                  static_cast<std::uint32_t>(minutes));
    }
  }
  return printf_string("%sd%dt%02d", list_.basename.c_str(), walk_.disc, walk_.track);
}

std::string track_break_get_filename(const TrackBreak& brk, const TrackBreakList& list) {
  // The break belongs to the list, so its position follows from its address; a copy of a
  // break is still found by its offset, which is unique in the list.
  auto position = static_cast<std::size_t>(&brk - list.breaks.data());
  if (position >= list.breaks.size() || &list.breaks[position] != &brk) {
    auto at = std::lower_bound(
        list.breaks.begin(), list.breaks.end(), brk.offset,
        [](const TrackBreak& other, std::uint64_t value) { return other.offset < value; });
    if (at == list.breaks.end() || at->offset != brk.offset) return brk.filename.value_or("");
    position = static_cast<std::size_t>(at - list.breaks.begin());
  }
  return TrackNamer(list).name(position);
}

void track_break_list_foreach(const TrackBreakList& list, TrackBreakFunc visitor,
                              void* user_data) {
  // One namer for the whole pass carries the disc walk from break to break, so naming a
  // list costs one walk instead of one per break.
  TrackNamer namer(list);
  for (std::size_t i = 0; i < list.breaks.size(); ++i) {
    const TrackBreak& brk = list.breaks[i];
    const std::string name = namer.name(i);
    visitor(static_cast<std::int32_t>(i), brk.write, brk.offset, track_break_end(list, i), name,
            user_data);
  }
}
