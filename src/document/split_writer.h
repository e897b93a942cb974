// The split writer: cuts an analysed audio document into one file per selected track of a
// break list, in a thread of its own, and reports through callbacks the caller supplies.
#pragma once

#include <string>

#include "document/split_job.h"
#include "formats/format.h"

// Starts the "write data" thread on an analysed document and returns at once; the caller
// learns of the end through finished. Returns 0 when started, -1 (finished is then never
// called) when the document already runs or starts a job, is not analysed yet, or has no
// audio file. The document owns the thread and joins it when it is closed. With tags, every
// track is tagged from the list's metadata; a format without tags gets one warning for the
// job. gapless asks the modules for sample-exact tracks where they can write them; frame_copy
// for tracks of the source's own frames (TrackRequest::frame_copy). With verify, each track is
// read back and compared with its range of the source before it reaches its name
// (TrackVerifier); one that differs is not written, and callbacks.track_verified hears of each
// that matched.
int audio_document_start_split(AudioDocument& document, const TrackBreakList& list,
                               const SplitCallbacks& callbacks, const std::string& output_folder,
                               bool tags = false, bool gapless = false, bool frame_copy = false,
                               bool verify = false);
// 1 from the moment a start is accepted until just before the job's finished call, else 0.
int audio_document_is_splitting(AudioDocument& document);

// The thread body: writes every selected track of job->break_list, then calls finished.
void split_thread(SplitJob* job);
// The WriteProgressFunc handed to the format layer; user_data is the job's SplitCallbacks.
void split_progress_relay(void* user_data, double fraction);

// folder + "/" + name, then the source's extension unless the name already ends with it.
// The extension is the source name's own (its module's extension when the name ends with
// it, else from its last '.'), or the module's extension for a name without '.'.
std::string split_output_path(const std::string& folder, const std::string& name,
                              const std::string& source_path, const FormatModule& module);
