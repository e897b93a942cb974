// The split writer: cuts an analysed audio document into one file per selected track of a
// break list, in a thread of its own, and reports through callbacks the caller supplies.
#pragma once

#include <string>

#include "breaks/track_break_list.h"
#include "formats/format.h"

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
};

// Starts the "write data" thread on an analysed document and returns at once; the caller
// learns of the end through finished. Returns 0 when started, -1 (finished is then never
// called) when the document already runs or starts a job, is not analysed yet, or has no
// audio file. The document owns the thread and joins it when it is closed. With tags, every
// track is tagged from the list's metadata; a format without tags gets one warning for the
// job. gapless asks the modules for sample-exact tracks where they can write them.
int audio_document_start_split(AudioDocument& document, const TrackBreakList& list,
                               const SplitCallbacks& callbacks, const std::string& output_folder,
                               bool tags = false, bool gapless = false);
// 1 from the moment a start is accepted until just before the job's finished call, else 0.
int audio_document_is_splitting(AudioDocument& document);

// The thread body: writes every selected track of job->break_list, then calls finished.
void split_thread(SplitJob* job);
// The WriteProgressFunc handed to the format layer; user_data is the job's SplitCallbacks.
void split_progress_relay(void* user_data, double fraction);

// folder + "/" + name, then the source's extension unless that path already contains it.
// The extension is the source name's own (its module's extension when the name ends with
// it, else from its last '.'), or the module's extension for a name without '.'.
std::string split_output_path(const std::string& folder, const std::string& name,
                              const std::string& source_path, const FormatModule& module);
