// Folders held open by descriptor, so that a file made in one stays in the folder that was
// checked, whatever happens to the path's text afterwards.
#pragma once

#include <optional>
#include <string>
#include <string_view>

class Folder {
 public:
  // The folder at path, held open. std::nullopt with errno set when it cannot be opened as a
  // folder (ENOTDIR for a file).
  static std::optional<Folder> open(const std::string& path);
  // The process's working folder, by the name AT_FDCWD: paths given with it are taken as
  // the system takes them, absolute or relative.
  static Folder working();

  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder();

  // The folder at relative beneath this one, resolved by the kernel so that neither '..', an
  // absolute path nor a symbolic link leads out of it (a link that stays inside is followed
  // where the kernel can tell; where it cannot, no link is followed at all). An empty relative
  // is this folder itself. std::nullopt with errno set: EXDEV or ELOOP where the way leads
  // out, the system's reason otherwise.
  std::optional<Folder> beneath(std::string_view relative) const;
  // A second descriptor of the same folder, for an owner that may outlive this one.
  std::optional<Folder> duplicate() const;

  // For the *at calls; AT_FDCWD for the working folder.
  int fd() const { return fd_; }

 private:
  explicit Folder(int fd) : fd_(fd) {}
  int fd_;
};
