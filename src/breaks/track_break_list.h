// The track-break list: where each track of one recording begins, in blocks of 1/75 second,
// in strictly ascending order, together with the recording's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The list length that means "no known end": every offset is accepted, and the last track
// ends at this value.
inline constexpr std::uint64_t NO_END = std::numeric_limits<std::uint64_t>::max();

// What a break-list file says about one track besides where it starts. Texts are valid
// UTF-8 without control characters; an empty text is one the file does not give.
struct TrackMetadata {
  std::string title;
  std::string performer;
  std::string isrc;
  bool operator==(const TrackMetadata&) const = default;
};

// What a break-list file says about the whole recording, in the same form.
struct AlbumMetadata {
  std::string title;
  std::string performer;
  std::string date;
  std::string genre;
  bool operator==(const AlbumMetadata&) const = default;
};

struct TrackBreak {
  std::int32_t write = 0;               // 1: the track starting here is written by a split
  std::uint64_t offset = 0;             // start of the track, in blocks
  std::optional<std::string> filename;  // explicit output name; nullopt: a generated one
  TrackMetadata metadata;
};

struct TrackBreakList {
  std::string basename;            // base of the generated output names
  std::vector<TrackBreak> breaks;  // strictly ascending offsets, no duplicates
  std::uint64_t length = 0;        // recording length in blocks, or NO_END
  // Tracks to be written that a list file placed beyond the length: they were left out, and
  // a job that was to write them cannot pass for one that wrote every track.
  std::size_t written_tracks_left_out = 0;
  AlbumMetadata album;
  // The template every output name is made from (see name_format.h); nullopt: explicit
  // names and the naming options, as always.
  std::optional<std::string> name_format;
};
using TrackBreakListPtr = std::unique_ptr<TrackBreakList>;

// A new list holding its own copy of basename, with no breaks and length 0.
TrackBreakListPtr track_break_list_new(std::string_view basename);
// Releases the list with its breaks (the unique_ptr does the same when it goes out of scope).
void track_break_list_free(TrackBreakListPtr list);
// Removes every break, the album's metadata and the count of tracks left out; base name,
// length and name format stay.
void track_break_list_clear(TrackBreakList& list);
// Sets the length; breaks already in the list are not checked against it.
void track_break_list_set_length(TrackBreakList& list, std::uint64_t length);
// Returns the break at offset: the existing one unchanged, or a new one inserted in order
// (filename: nullopt for none; an empty text is stored as an empty name). Returns nullptr,
// with the warning "Offset out of range", when offset > length. The pointer stays valid until
// the list is next changed.
TrackBreak* track_break_list_add(TrackBreakList& list, std::int32_t write, std::uint64_t offset,
                                 std::optional<std::string_view> filename);
// The break at offset, or nullptr. The pointer stays valid until the list is next changed.
TrackBreak* track_break_list_find(TrackBreakList& list, std::uint64_t offset);
// Removes the break at 0-based position n; n must be smaller than the number of breaks.
void track_break_list_remove_nth(TrackBreakList& list, std::size_t n);
// Stores a copy of filename; nullopt or an empty text leaves the break without file name.
void track_break_set_filename(TrackBreak& brk, std::optional<std::string_view> filename);
// Every break of the list loses its explicit file name.
void track_break_list_clear_filenames(TrackBreakList& list);
// -1, 0 or 1 as a's offset is smaller than, equal to or greater than b's.
int track_break_compare(const TrackBreak& a, const TrackBreak& b);
