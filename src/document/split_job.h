// What a split job is made of: the overwrite answers, the callbacks a front end supplies and
// the job the document keeps while its writer runs.
#pragma once

#include <string>

#include "breaks/track_break_list.h"

struct AudioDocument;

// What ask_overwrite answers, and the standing answer the writer keeps between tracks.
enum OverwriteAnswer : int {
  OVERWRITE_ASK = 1,       // only as standing answer: ask about the next existing file
  OVERWRITE_NO = 2,        // keep this file
  OVERWRITE_SKIP_ALL = 3,  // keep this and every later existing file without asking
  OVERWRITE_YES = 4,       // replace this file
  OVERWRITE_ALL = 5,       // replace this and every later existing file without asking
};

// Every callback runs on the writer thread. progress is the only one taking user_data first.
struct SplitCallbacks {
  // index: 1-based among the selected tracks; count: number of selected tracks; path: the
  // full output path. Called for every selected track, also one that is then skipped.
  void (*file_started)(int index, int count, const std::string& path, void* user_data);
  // 0.0 after file_started, the writer's fractions in between, 1.0 when the track is done.
  void (*progress)(void* user_data, double fraction);
  void (*write_error)(const std::string& path, void* user_data);
  // The last call of every job.
  void (*finished)(void* user_data);
  // Asked before every break, selected or not; nonzero ends the job.
  int (*is_cancelled)(void* user_data);
  // The path exists and no standing answer applies: an OverwriteAnswer (other codes: no).
  int (*ask_overwrite)(const std::string& path, void* user_data);
  void* user_data;
  // A track read back and found to hold its range, just before it reaches its name (only in
  // a job that verifies). May be null.
  void (*track_verified)(const std::string& path, void* user_data) = nullptr;
};

// The running job of a document. The document and the list must outlive the job (they do
// while the caller waits for finished); callbacks and folder are copies.
struct SplitJob {
  AudioDocument* document = nullptr;
  const TrackBreakList* break_list = nullptr;
  SplitCallbacks callbacks{};
  std::string output_folder;
  bool tags = false;  // each track gets the tags of its break (track_break_list_tags)
  bool gapless = false;  // MPEG layer III tracks that decode to exactly their samples
  bool frame_copy = false;  // tracks of the source's frames where the module copies frames
  bool verify = false;  // each track read back and compared with its range before it is committed
};

