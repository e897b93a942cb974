// The tags of one track that a split writes into it, taken from its break list.
#pragma once

#include <string>

// Texts are valid UTF-8; an empty text is a tag the list does not give.
struct TrackTags {
  std::string title;
  std::string artist;
  std::string album;
  std::string date;
  std::string genre;
  int track_number = 0;  // 1-based number in the list; 0: none
  int track_total = 0;   // tracks in the list; 0: none
};
