#include "formats/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace {

// fopen "wb", except that an empty file is not truncated again: on ext4, truncating a file to
// zero makes its close force the allocation of every block written since, which costs as much
// as the copy itself (and the split hands us freshly created, empty files).
FilePtr open_for_writing(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && st.st_size > 0 && ftruncate(fd, 0) != 0)) {
    close(fd);
    return nullptr;
  }
  std::FILE* fp = fdopen(fd, "wb");
  if (fp == nullptr) close(fd);
  return FilePtr(fp);
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)), fp_(open_for_writing(path_)) {}

OutputFile::~OutputFile() {
  if (kept_ || !fp_) return;
  fp_.reset();
  // Only a file of our own making goes: an output path may name a device.
  std::error_code ignored;
  if (std::filesystem::is_regular_file(path_, ignored)) std::remove(path_.c_str());
}

bool OutputFile::close_and_keep() {
  if (std::fclose(fp_.release()) != 0) return false;
  kept_ = true;
  return true;
}
