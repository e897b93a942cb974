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

}  // namespace
