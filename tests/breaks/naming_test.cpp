#include "breaks/naming.h"

#include <gtest/gtest.h>

#include <vector>

#include "settings/settings.h"

namespace {

struct Options {
  std::int32_t etree = 0;
  std::int32_t prepend = 0;
  const char* separator = "-";
  const char* cd_length = "80";
};

void apply(const Options& options) {
  set_use_etree_filename_suffix(options.etree);
  set_prepend_file_number(options.prepend);
  set_etree_filename_suffix(options.separator);
  set_etree_cd_length(options.cd_length);
}

TrackBreakListPtr make_list(const char* basename, std::uint64_t length,
                            const std::vector<std::uint64_t>& offsets) {
  TrackBreakListPtr list = track_break_list_new(basename);
  track_break_list_set_length(*list, length);
  for (std::uint64_t offset : offsets) track_break_list_add(*list, 1, offset, std::nullopt);
  return list;
}

// A hundred one-minute tracks.
TrackBreakListPtr hundred_minutes(const char* basename) {
  std::vector<std::uint64_t> offsets;
  for (std::uint64_t i = 0; i < 100; ++i) offsets.push_back(i * 4500);
  return make_list(basename, 100 * 4500, offsets);
}

std::vector<std::string> names_of(const TrackBreakList& list) {
  std::vector<std::string> names;
  for (const TrackBreak& brk : list.breaks) names.push_back(track_break_get_filename(brk, list));
  return names;
}

TEST(TrackNaming, SchemesByOptionsAndPosition) {
  struct Case {
    Options options;
    std::size_t position;  // 1-based
    const char* name;
  };
  const Case cases[] = {
      {{}, 1, "live-01"},
      {{}, 10, "live-10"},
      {{}, 100, "live-100"},
      {{0, 0, "_"}, 2, "live_02"},
      {{0, 0, ""}, 3, "live03"},
      {{0, 1}, 3, "03-live"},
      {{0, 1, ""}, 1, "01live"},
      {{0, 1}, 100, "100-live"},
      {{1, 0}, 1, "lived1t01"},
      {{1, 1}, 1, "lived1t01"},  // disc and track wins over the number in front
      {{1, 0}, 80, "lived1t80"},
      {{1, 0}, 81, "lived2t01"},
      {{1, 0}, 100, "lived2t20"},
      {{1, 0, "-", "74"}, 75, "lived2t01"},
      // Discs of no minutes: every track of a minute opens a disc of its own.
      {{1, 0, "-", "none"}, 3, "lived3t01"},
  };
  TrackBreakListPtr list = hundred_minutes("live");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    apply(c.options);
    EXPECT_EQ(track_break_get_filename(list->breaks[c.position - 1], *list), c.name);
  }
}

TEST(TrackNaming, ExplicitNameWinsWhateverTheOptions) {
  TrackBreakListPtr list = make_list("live", 9000, {});
  track_break_list_add(*list, 1, 0, "Opening");
  track_break_list_add(*list, 1, 4500, "");
  for (const Options& options : {Options{}, Options{1, 1}, Options{0, 1, ""}}) {
    apply(options);
    EXPECT_EQ(names_of(*list), (std::vector<std::string>{"Opening", ""}));
  }
}

TEST(TrackNaming, DiscAndTrackExamples) {
  struct Case {
    const char* what;
    std::uint64_t length;
    std::vector<std::uint64_t> offsets;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"20, 31, 29 and 1 minutes on 80-minute discs", 355502, {0, 90000, 225001, 355501},
       {"showd1t01", "showd1t02", "showd1t03", "showd2t01"}},
      {"a zero-length first track opens no disc", 0, {0}, {"showd0t01"}},
      // 100 minutes leave the remainder at -20; the next track opens a new disc.
      {"a track longer than a disc", 495000, {0, 450000, 477000},
       {"showd1t01", "showd2t01", "showd2t02"}},
      {"no end: a last break below 4499 blocks has no minutes", NO_END, {4498}, {"showd0t01"}},
      {"no end: from 4499 blocks on the last track is huge", NO_END, {4499}, {"showd1t01"}},
      {"no end: the huge last track opens a new disc", NO_END, {0, 45000},
       {"showd1t01", "showd2t01"}},
  };
  apply({1, 0});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TrackBreakListPtr list = make_list("show", c.length, c.offsets);
    EXPECT_EQ(names_of(*list), c.names);
  }
}

void collect_name(std::int32_t, std::int32_t, std::uint64_t, std::uint64_t,
                  const std::string& name, void* user_data) {
  static_cast<std::vector<std::string>*>(user_data)->push_back(name);
}

TEST(TrackNaming, ForeachNamesAsEachBreakAlone) {
  // Tracks of mixed lengths, some longer than a disc, so the walk that foreach carries
  // from break to break crosses several discs and a negative remainder.
  std::vector<std::uint64_t> offsets;
  std::uint64_t offset = 0;
  for (int i = 0; i < 60; ++i) {
    offsets.push_back(offset);
    offset += static_cast<std::uint64_t>((i * 7919) % 40 + 1) * 4000 + (i == 30 ? 400000 : 0);
  }
  TrackBreakListPtr list = make_list("set", offset, offsets);
  apply({1, 0, "-", "74"});
  std::vector<std::string> visited;
  track_break_list_foreach(*list, collect_name, &visited);
  EXPECT_EQ(visited, names_of(*list));
  EXPECT_EQ(visited.front(), "setd1t01");
}

TEST(TrackNaming, BreakCopyIsNamedByItsOffset) {
  TrackBreakListPtr list = make_list("live", 9000, {0, 4500});
  apply({});
  const TrackBreak copy = list->breaks[1];
  EXPECT_EQ(track_break_get_filename(copy, *list), "live-02");
}

TEST(TrackNaming, NameFormatFillsInTheMetadataAndFallsBackToThePlainName) {
  apply(Options{});
  TrackBreakListPtr list = make_list("show", 20000, {0, 4500, 9000});
  track_break_list_add(*list, 1, 13500, "explicit");
  list->album = AlbumMetadata{"Live", "The Band", "1999-05-01", "Rock"};
  list->breaks[0].metadata = TrackMetadata{"Intro", "", ""};
  list->breaks[1].metadata = TrackMetadata{"Duet", "Guest", ""};
  EXPECT_EQ(names_of(*list), (std::vector<std::string>{"show-01", "show-02", "show-03", "explicit"}));

  list->name_format = "%n %p - %t (%a, %y)";
  EXPECT_EQ(names_of(*list), (std::vector<std::string>{"01 The Band - Intro (Live, 1999)",
                                                       "02 Guest - Duet (Live, 1999)",
                                                       "03 The Band - show-03 (Live, 1999)",
                                                       "04 The Band - explicit (Live, 1999)"}));
  // The plain name follows the naming options; so does a name the template leaves empty.
  apply(Options{0, 1, "_", "80"});
  list->name_format = "%a/%t";
  EXPECT_EQ(names_of(*list), (std::vector<std::string>{"Live/Intro", "Live/Duet", "Live/03_show", "Live/explicit"}));
  list->name_format = "%y";
  list->album.date.clear();
  EXPECT_EQ(names_of(*list), (std::vector<std::string>{"01_show", "02_show", "03_show", "explicit"}));
  apply(Options{});
}

}  // namespace
