// Output files that appear under their final name only once they are complete: a file is
// written under a temporary name beside its final path and moved there at the end, so a
// failed or interrupted write never replaces a user's file nor leaves a partial one.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "io/file.h"
#include "io/folder.h"

class TemporaryOutput {
 public:
  // Creates an empty temporary file in final_path's folder, exclusively (O_EXCL, so never a
  // file or link someone else put there), mode 0666 less the umask or the mode of the file it
  // will replace, and opens it for writing. std::nullopt, with a warning naming final_path and
  // the system's reason (errno keeps it), when the system refuses it. While it exists, the
  // signals that end a process (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE) remove it before
  // the process ends, and a file size limit fails a write with EFBIG instead of a kill.
  static std::optional<TemporaryOutput> create(const std::string& final_path);
  // As create, for the file name in folder (name may hold subfolders; the temporary file and
  // the final name are made relative to folder's descriptor, never through the path's text).
  // final_path is only the name that messages give.
  static std::optional<TemporaryOutput> create_in(const Folder& folder, const std::string& name,
                                                  const std::string& final_path);

  TemporaryOutput(TemporaryOutput&& other) noexcept;
  TemporaryOutput& operator=(TemporaryOutput&&) = delete;
  TemporaryOutput(const TemporaryOutput&) = delete;
  TemporaryOutput& operator=(const TemporaryOutput&) = delete;
  // Removes the temporary file unless it was committed.
  ~TemporaryOutput();

  // The open temporary file: every byte of the output goes through it, never through a path.
  std::FILE* file() const { return file_.get(); }
  const std::string& final_path() const { return final_path_; }
  // The temporary name relative to the folder (for create, the path), for tests only:
  // messages name the final path.
  const std::string& temporary_path() const { return temporary_path_; }
  // A path that opens the temporary file for reading, whatever became of the folder's path
  // since (through the folder's descriptor where it has one). For reading a file back before
  // it is committed.
  std::string reading_path() const;
  // Closes the file and moves it over the final path; a file it replaces is replaced only by
  // one already on the disk (fsync). false, with a warning naming the final path and the
  // reason, and the temporary file removed, when the file cannot be completed or moved.
  bool commit();
  // As commit, but moves the file to the final path only if nothing is there yet (errno EEXIST
  // when something was).
  bool commit_new();

 private:
  TemporaryOutput(Folder folder, std::string name, std::string final_path, std::string temporary_path,
                  FilePtr file);
  void discard();
  bool finish(int (*move)(const Folder& folder, const char* from, const char* to), bool sync);

  Folder folder_;
  std::string name_;  // the final name, relative to folder_
  std::string final_path_;
  std::string temporary_path_;  // empty once committed or discarded
  FilePtr file_;
};
