// Reading break-list files in tests and describing the breaks they gave.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "breaks/break_file.h"
#include "support/log_capture.h"
#include "breaks/track_break_list.h"
#include "support/harness.h"

namespace tfold_test {

struct Break {
  std::int32_t write;
  std::uint64_t offset;
  std::optional<std::string> filename;
  bool operator==(const Break&) const = default;
};

inline void PrintTo(const Break& brk, std::ostream* out) {
  *out << "{" << brk.write << ", " << brk.offset << ", "
       << (brk.filename ? "\"" + *brk.filename + "\"" : std::string("none")) << "}";
}

inline std::vector<Break> breaks_of(const TrackBreakList& list) {
  std::vector<Break> result;
  for (const TrackBreak& brk : list.breaks) result.push_back({brk.write, brk.offset, brk.filename});
  return result;
}

// Written breaks without names, as CUE and TOC files give them.
inline std::vector<Break> written_at(const std::vector<std::uint64_t>& offsets) {
  std::vector<Break> result;
  for (std::uint64_t offset : offsets) result.push_back({1, offset, std::nullopt});
  return result;
}

// One file read by track_break_list_read, with its expected result and log text.
struct ReadCase {
  const char* what;
  std::string content;
  int result;
  std::vector<Break> breaks;  // checked when the read succeeds
  const char* warning;        // a part of the log text; "" for none at all
};

// Writes each case's content to file_name in a fresh folder and reads it into a list
// without known end.
inline void check_reads(const char* file_name, const std::vector<ReadCase>& cases) {
  TempDir dir;
  const std::string path = dir / file_name;
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.what);
    write_text(path, c.content);
    TrackBreakListPtr list = track_break_list_new("base");
    track_break_list_set_length(*list, NO_END);
    LogCapture log;
    EXPECT_EQ(track_break_list_read(path, *list), c.result);
    if (c.result == 1) {
      EXPECT_EQ(breaks_of(*list), c.breaks);
    }
    if (std::string(c.warning).empty()) {
      EXPECT_EQ(log.text(), "");
    } else {
      EXPECT_NE(log.text().find(c.warning), std::string::npos) << log.text();
    }
  }
}

inline void PrintTo(const TrackMetadata& track, std::ostream* out) {
  *out << "{\"" << track.title << "\", \"" << track.performer << "\", \"" << track.isrc << "\"}";
}

inline std::vector<TrackMetadata> track_metadata_of(const TrackBreakList& list) {
  std::vector<TrackMetadata> result;
  for (const TrackBreak& brk : list.breaks) result.push_back(brk.metadata);
  return result;
}

// content written to file_name in a fresh folder and read with its metadata into a list
// without known end; log collects the reader's warnings.
inline TrackBreakListPtr read_metadata(const char* file_name, const std::string& content,
                                       LogCapture& log, const std::string& charset = "") {
  TempDir dir;
  const std::string path = dir / file_name;
  write_text(path, content);
  TrackBreakListPtr list = track_break_list_new("base");
  track_break_list_set_length(*list, NO_END);
  log.clear();
  BreakFileReading reading;
  reading.metadata = true;
  reading.charset = charset;
  EXPECT_EQ(track_break_list_read(path, *list, reading), 1) << log.text();
  return list;
}

}  // namespace tfold_test
