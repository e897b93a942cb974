// split --verify: every track is read back before it reaches its name and compared with its
// range of the source.
#pragma once

#include <mutex>
#include <vector>

#include "formats/format.h"
#include "io/temporary_output.h"

class TrackVerifier {
 public:
  // source is the file the tracks are cut from; it must outlive the verifier, which reads it
  // only through readers of its own (a playback or a writer may use its read position).
  explicit TrackVerifier(const AudioFile& source) : source_(source) {}
  TrackVerifier(const TrackVerifier&) = delete;
  TrackVerifier& operator=(const TrackVerifier&) = delete;
  ~TrackVerifier();

  // Reads the track written for request into output back through its module and compares it
  // with the request's range of the source. true when it holds that range; false after the
  // warning "Verification failed for PATH: first difference at sample S" (S counted from the
  // track's first sample frame), or with the reason when the track cannot be read at all.
  // Safe to call from several threads at once.
  bool check(const TemporaryOutput& output, const TrackRequest& request);

 private:
  AudioFilePtr borrow_reader(ErrorText* error);
  void give_back(AudioFilePtr reader);

  const AudioFile& source_;
  std::mutex mutex_;
  std::vector<AudioFilePtr> readers_;  // readers of the source that no check is using
};
