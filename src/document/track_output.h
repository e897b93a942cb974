// Output files that appear under their final name only once they are complete: a track is
// written under a temporary name beside its final path and renamed over it at the end, so a
// failed or interrupted write never replaces a user's file nor leaves a partial track.
#pragma once

#include <optional>
#include <string>

class TrackOutput {
 public:
  // Creates an empty temporary file in final_path's folder (exclusively, mode 0666 less the
  // umask, or the mode of the file it will replace). std::nullopt, with a warning, when the
  // system refuses it. While it exists, SIGINT and SIGTERM remove it before the process ends.
  static std::optional<TrackOutput> create(const std::string& final_path);

  TrackOutput(TrackOutput&& other) noexcept;
  TrackOutput& operator=(TrackOutput&&) = delete;
  TrackOutput(const TrackOutput&) = delete;
  TrackOutput& operator=(const TrackOutput&) = delete;
  // Removes the temporary file unless it was committed.
  ~TrackOutput();

  const std::string& temporary_path() const { return temporary_path_; }
  // Moves the temporary file over the final path. false, with a warning and the temporary
  // file removed, when the rename fails.
  bool commit();

 private:
  TrackOutput(std::string final_path, std::string temporary_path);
  void discard();

  std::string final_path_;
  std::string temporary_path_;  // empty once committed or discarded
};
