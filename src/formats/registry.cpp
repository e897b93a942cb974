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

// Why the file at st is no audio file to read, or nullptr. Audio is read by position, from
// several threads at once: only a regular file allows it, and a FIFO or device would make a
// reader wait for ever or read without end.
const char* special_file_reason(const struct stat& st) {
  if (S_ISFIFO(st.st_mode)) return "it is a pipe or FIFO, which cannot be read by position: save the audio to a file first";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "it is a device, not a file";
  if (S_ISSOCK(st.st_mode)) return "it is a socket, not a file";
  return nullptr;
}

// Why path cannot be read as an audio file (the system's reason, or its kind when it is no
// regular file), or nullopt when it can. Non-blocking, so that a FIFO is not waited for here.
std::optional<std::string> open_failure(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::string(g_strerror(errno));
  struct stat st {};
  const int stat_error = fstat(fd, &st) != 0 ? errno : 0;
  close(fd);
  if (stat_error != 0) return std::string(g_strerror(stat_error));
  // A folder opens, but holds no bytes to read.
  if (S_ISDIR(st.st_mode)) return std::string(g_strerror(EISDIR));
  if (const char* reason = special_file_reason(st)) return std::string(reason);
  return std::nullopt;
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
  if (const std::optional<std::string> reason = open_failure(path)) {
    set_error_message(error, "%s", reason->c_str());
    return nullptr;
  }
  // What a module recognised but does not read says more than "unknown", unless another
  // module reads the file after all.
  std::optional<std::string> unsupported;
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
    if (result.kind == OpenResult::Kind::Unsupported && !unsupported) unsupported = result.reason;
    if (!result.reason.empty()) g_debug("Open as %s failed: %s", module->name, result.reason.c_str());
  }
  set_error_message(error, "%s", unsupported ? unsupported->c_str() : "File format unknown/not supported");
  return nullptr;
}

bool format_is_audio_extension(std::string_view extension) {
  // MPEG's second extension is the layer II one.
  if (g_ascii_strcasecmp(std::string(extension).c_str(), ".mp2") == 0) return true;
  return std::any_of(registry().modules.begin(), registry().modules.end(), [&](const FormatModule* module) {
    return g_ascii_strcasecmp(std::string(extension).c_str(), module->extension) == 0;
  });
}

std::optional<EmbeddedSheet> format_embedded_sheet(AudioFile& file) {
  if (file.module->embedded_sheet == nullptr) return std::nullopt;
  return file.module->embedded_sheet(file);
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

std::string format_frame_copy_names() {
  std::string names;
  for (const FormatModule* module : registry().modules) {
    if (!module->copies_frames) continue;
    if (!names.empty()) names += ", ";
    names += module->name;
  }
  return names;
}

void format_list_modules() {
  for (const FormatModule* module : registry().modules) {
    std::printf("Format:    %s\n", module->name);
    std::printf("Library:   %s\n", module->library);
    std::printf("Extension: %s\n", module->extension);
    std::printf("\n");
  }
}
