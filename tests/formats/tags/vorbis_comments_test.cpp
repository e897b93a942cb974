#include "formats/tags/vorbis_comments.h"

#include <gtest/gtest.h>

namespace {

using Comments = std::vector<std::string>;

TEST(VorbisComments, ReplaceTheSourcesFieldsThatTheTagsGive) {
  struct Case {
    const char* what;
    Comments source;
    TrackTags tags;
    Comments comments;
  };
  const TrackTags full{"Intro", "The Band", "Live", "1999", "Jazz", 3, 12};
  const Case cases[] = {
      {"no source comments", {}, full,
       {"TITLE=Intro", "ARTIST=The Band", "ALBUM=Live", "TRACKNUMBER=3", "TRACKTOTAL=12",
        "DATE=1999", "GENRE=Jazz"}},
      {"replaced in any case, every occurrence; others kept in order",
       {"title=Whole Concert", "ENCODER=x", "Artist=A", "ARTIST=B", "tracknumber=1",
        "REPLAYGAIN_TRACK_GAIN=-3 dB", "GENRE=Rock"},
       full,
       {"ENCODER=x", "REPLAYGAIN_TRACK_GAIN=-3 dB", "TITLE=Intro", "ARTIST=The Band",
        "ALBUM=Live", "TRACKNUMBER=3", "TRACKTOTAL=12", "DATE=1999", "GENRE=Jazz"}},
      {"fields the tags lack stay the source's",
       {"TITLE=Whole Concert", "ARTIST=The Band", "DATE=2001", "TITLES=x"},
       {"", "", "Live", "", "", 2, 0},
       {"TITLE=Whole Concert", "ARTIST=The Band", "DATE=2001", "TITLES=x", "ALBUM=Live",
        "TRACKNUMBER=2"}},
      {"a comment without '=' is kept", {"BROKEN", "ALBUM"}, {"", "", "Live", "", "", 0, 0},
       {"BROKEN", "ALBUM", "ALBUM=Live"}},
      {"UTF-8 values", {}, {"\xD0\x9C\xD0\xB8\xD1\x80", "", "", "", "", 0, 0},
       {"TITLE=\xD0\x9C\xD0\xB8\xD1\x80"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(vorbis_comments_for_track(c.source, c.tags), c.comments);
  }
}

TEST(VorbisComments, TellTheFieldsOfTheWholeSourceByNameInAnyCase) {
  struct Case {
    const char* comment;
    bool whole_source;
  };
  const Case cases[] = {
      {"CUESHEET=FILE \"a.wav\" WAVE", true}, {"Log=ripped", true},
      {"REPLAYGAIN_TRACK_GAIN=-3 dB", true},   {"replaygain_track_peak=0.9", true},
      {"TrackNumber=7", true},                 {"TRACKTOTAL=12", true},
      {"totaltracks=12", true},                {"LOG", true},
      {"REPLAYGAIN_ALBUM_GAIN=-2 dB", false},  {"REPLAYGAIN_TRACK=x", false},
      {"CUESHEETS=x", false},                  {"LOGO=x", false},
      {"TRACK=7", false},                      {"ARTIST=LOG", false},
      {"=CUESHEET", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.comment);
    EXPECT_EQ(vorbis_comment_describes_source(c.comment), c.whole_source);
  }
  const Comments source = {"TITLE=Whole", "LOG=x", "ALBUM=A", "tracknumber=3", "ALBUM=B"};
  EXPECT_EQ(vorbis_comments_of_part(source), (Comments{"TITLE=Whole", "ALBUM=A", "ALBUM=B"}));
}

}  // namespace
