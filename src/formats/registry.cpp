#include "formats/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

#include "formats/cdda/cdda.h"
#include "formats/flac/flac.h"
#include "formats/mpeg/mpeg.h"
#include "formats/ogg/ogg.h"
#include "formats/wav/wav.h"
#include "io/temporary_output.h"

namespace {

struct Registry {
  std::vector<const FormatModule*> modules;
  bool initialised = false;
};

Registry& registry() {
  static Registry instance;
  return instance;
}

void register_module(const FormatModule* module) {
  if (module == nullptr) return;
  g_debug("Loaded format module: %s", module->name);
  registry().modules.push_back(module);
}

// 0 when path opens for reading as a file, else the system's reason. Non-blocking, so that a
// FIFO is not waited for here; a folder opens, but holds no bytes to read.
int open_failure(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat st {};
  const int reason = fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  close(fd);
  return reason;
}

}  // namespace

void format_init() {
  Registry& reg = registry();
  if (reg.initialised) return;
  register_module(wav_module());
  register_module(cdda_module());
  register_module(mpeg_module());
  register_module(ogg_module());
  register_module(flac_module());
  reg.initialised = true;
}

AudioFilePtr format_open_file(const std::string& path, ErrorText* error) {
  // A file no module could even open must not be called a format nobody knows.
  if (const int reason = open_failure(path); reason != 0) {
    set_error_message(error, "%s", g_strerror(reason));
    return nullptr;
  }
  for (const FormatModule* module : registry().modules) {
    OpenResult result = module->open_file(*module, path);
    if (result.kind == OpenResult::Kind::Opened) {
      if (error != nullptr) error->reset();
      return std::move(result.file);
    }
    // The file is this module's and no other's: the user learns here, once, what is wrong.
    if (result.kind == OpenResult::Kind::Damaged) {
      g_warning("%s", result.reason.c_str());
      break;
    }
    if (!result.reason.empty()) g_debug("Open as %s failed: %s", module->name, result.reason.c_str());
  }
  set_error_message(error, "%s", "File format unknown/not supported");
  return nullptr;
}

void format_close_file(AudioFilePtr file) {
  if (!file) return;
  const FormatModule* module = file->module;
  module->close_file(*module, std::move(file));
}

std::int64_t format_read_data(AudioFile& file, std::span<std::uint8_t> buffer,
                              std::uint64_t offset) {
  return file.module->read_data(file, buffer, offset);
}

int format_write_range(AudioFile& file, const TrackRequest& request) {
  return file.module->write_range(file, request);
}

int format_write_track(AudioFile& file, TrackRequest request) {
  if (file.module->write_range == nullptr) return -1;
  const std::string path(request.path);
  std::optional<TemporaryOutput> output = TemporaryOutput::create(path);
  if (!output) return -1;
  request.out = output->file();
  if (format_write_range(file, request) == -1) return -1;
  return output->commit() ? 0 : -1;
}

void format_list_modules() {
  for (const FormatModule* module : registry().modules) {
    std::printf("Format:    %s\n", module->name);
    std::printf("Library:   %s\n", module->library);
    std::printf("Extension: %s\n", module->extension);
    std::printf("\n");
  }
}
