// Output files that appear under their final name only once they are complete: a file is
// written under a temporary name beside its final path and moved there at the end, so a
// failed or interrupted write never replaces a user's file nor leaves a partial one.
#pragma once

#include <optional>
#include <string>

class TemporaryOutput {
 public:
  // Creates an empty temporary file in final_path's folder (exclusively, mode 0666 less the
  // umask, or the mode of the file it will replace). std::nullopt, with a warning, when the
  // system refuses it. While it exists, SIGINT and SIGTERM remove it before the process ends.
  static std::optional<TemporaryOutput> create(const std::string& final_path);

  TemporaryOutput(TemporaryOutput&& other) noexcept;
  TemporaryOutput& operator=(TemporaryOutput&&) = delete;
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;
  // Removes the temporary file unless it was committed.
  ~TemporaryOutput();

  const std::string& temporary_path() const { return temporary_path_; }
  // Moves the temporary file over the final path. false, with a warning and the temporary
  // file removed, when the rename fails.
  bool commit();
  // Moves the temporary file to the final path only if nothing is there yet; false, with a
  // warning and the temporary file removed, otherwise (errno EEXIST when something was).
  bool commit_new();

 private:
  TemporaryOutput(std::string final_path, std::string temporary_path);
  void discard();
  bool finish(int (*move)(const char* from, const char* to));

  std::string final_path_;
  std::string temporary_path_;  // empty once committed or discarded
};
