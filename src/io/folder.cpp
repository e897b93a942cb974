#include "io/folder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace {

constexpr int FOLDER_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The kernel resolves the whole way at once and refuses every step that would leave the
// folder; -1 with ENOSYS on kernels before 5.6.
int open_beneath(int folder_fd, const std::string& relative) {
  open_how how{};
  how.flags = FOLDER_FLAGS;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  long fd = -1;
  do {
    fd = syscall(SYS_openat2, folder_fd, relative.c_str(), &how, sizeof how);
  } while (fd < 0 && errno == EAGAIN);
  return static_cast<int>(fd);
}

// Where openat2 is missing: one component at a time, none of them a link and none '..', so
// that every step stays inside by construction.
int open_component_by_component(int folder_fd, std::string_view relative) {
  if (relative.starts_with('/')) {
    errno = EXDEV;
    return -1;
  }
  int current = folder_fd == AT_FDCWD ? open(".", FOLDER_FLAGS) : fcntl(folder_fd, F_DUPFD_CLOEXEC, 0);
  if (current < 0) return -1;
  for (std::size_t from = 0; from < relative.size() && current >= 0;) {
    const std::size_t slash = std::min(relative.find('/', from), relative.size());
    const std::string component(relative.substr(from, slash - from));
    from = slash + 1;
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      close(current);
      errno = EXDEV;
      return -1;
    }
    const int next = openat(current, component.c_str(), FOLDER_FLAGS | O_NOFOLLOW);
    const int error = errno;
    close(current);
    errno = error;
    current = next;
  }
  return current;
}

}  // namespace

std::optional<Folder> Folder::open(const std::string& path) {
  const int fd = ::open(path.c_str(), FOLDER_FLAGS);
  if (fd < 0) return std::nullopt;
  return Folder(fd);
}

Folder Folder::working() { return Folder(AT_FDCWD); }

Folder::Folder(Folder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Folder::~Folder() {
  if (fd_ >= 0) close(fd_);
}

std::optional<Folder> Folder::beneath(std::string_view relative) const {
  const std::string path = relative.empty() ? std::string(".") : std::string(relative);
  int fd = open_beneath(fd_, path);
  if (fd < 0 && errno == ENOSYS) fd = open_component_by_component(fd_, path);
  if (fd < 0) return std::nullopt;
  return Folder(fd);
}

std::optional<Folder> Folder::duplicate() const {
  if (fd_ == AT_FDCWD) return Folder(AT_FDCWD);
  const int fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  return Folder(fd);
}
