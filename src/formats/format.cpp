#include "formats/format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <utility>
#include <vector>


namespace {

std::string duration_text(const SampleInfo& si) {
  // A header may carry zero rates; such a file still gets its information block.
  if (si.avgBytesPerSec == 0) return "unknown";
  const std::uint64_t ms = si.numBytes * 1000 / si.avgBytesPerSec;
  char text[64];
  std::snprintf(text, sizeof text, "%02" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ".%03" PRIu64,
                ms / 3600000, (ms / 60000) % 60, (ms / 1000) % 60, ms % 1000);
  return text;
}

}  // namespace

void set_error_message(ErrorText* error, const char* format, ...) {
  if (error == nullptr) return;
  va_list args;
  va_start(args, format);
  gchar* text = g_strdup_vprintf(format, args);
  va_end(args);
  *error = std::string(text);
  g_free(text);
}

OpenResult OpenResult::not_this_format(ErrorText reason) {
  return {.kind = Kind::NotThisFormat, .file = nullptr, .reason = std::move(reason).value_or("")};
}

OpenResult OpenResult::unsupported(std::string reason) {
  return {.kind = Kind::Unsupported, .file = nullptr, .reason = std::move(reason)};
}

OpenResult OpenResult::damaged(std::string reason) {
  return {.kind = Kind::Damaged, .file = nullptr, .reason = std::move(reason)};
}

OpenResult OpenResult::opened(AudioFilePtr file) {
  return {.kind = Kind::Opened, .file = std::move(file), .reason = {}};
}

AudioFilePtr format_take_file(OpenResult result, ErrorText* error) {
  if (result.kind == OpenResult::Kind::Opened) return std::move(result.file);
  if (result.kind == OpenResult::Kind::Damaged) g_warning("%s", result.reason.c_str());
  if (error != nullptr && !result.reason.empty()) *error = std::move(result.reason);
  return nullptr;
}

void format_print_info(const AudioFile& file) {
  const SampleInfo& si = file.si;
  std::printf("File name:      %s\n", file.path.c_str());
  std::printf("File format:    %s\n", file.module->name);
  if (file.details) std::printf("Format details: %s\n", file.details->c_str());
  if (si.blockAlign == 0) {
    std::printf("Duration:       %s (unknown samples)\n", duration_text(si).c_str());
  } else {
    std::printf("Duration:       %s (%" PRIu64 " samples)\n", duration_text(si).c_str(),
                si.numBytes / si.blockAlign);
  }
  std::printf("Format:         %u Hz / %u ch / %u bit\n", si.samplesPerSec, si.channels,
              si.bitsPerSample);
}

int format_open_common(const FormatModule& module, AudioFile& file, const std::string& path,
                       ErrorText* error) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    set_error_message(error, "Could not stat %s: %s", path.c_str(), g_strerror(errno));
    return 0;
  }
  // A folder opens for reading, and its size would pass for audio bytes.
  if (S_ISDIR(st.st_mode)) {
    set_error_message(error, "Could not open file %s: %s", path.c_str(), g_strerror(EISDIR));
    return 0;
  }
  FilePtr fp(std::fopen(path.c_str(), "rb"));
  if (!fp) {
    set_error_message(error, "Could not open file %s: %s", path.c_str(), g_strerror(errno));
    return 0;
  }
  file.module = &module;
  file.path = path;
  file.fp = std::move(fp);
  file.file_size = static_cast<std::int64_t>(st.st_size);
  return 1;
}

void format_close_common(AudioFile& file) {
  file.details.reset();
  file.fp.reset();
  file.path.clear();
}

int format_has_extension(const FormatModule& module, std::string_view path,
                         const char* extension) {
  const std::string_view ext = extension != nullptr ? extension : module.extension;
  if (path.size() < ext.size()) return 0;
  const std::string tail(path.substr(path.size() - ext.size()));
  return g_ascii_strcasecmp(tail.c_str(), std::string(ext).c_str()) == 0 ? 1 : 0;
}

SampleInfo format_sample_info(std::uint32_t rate, std::uint32_t channels, std::uint32_t bits_per_sample,
                              std::uint64_t frames) {
  SampleInfo si;
  si.channels = channels;
  si.samplesPerSec = rate;
  si.bitsPerSample = bits_per_sample;
  si.blockAlign = channels * (bits_per_sample / 8);
  si.avgBytesPerSec = rate * si.blockAlign;
  si.bufferSize = si.avgBytesPerSec / 75;
  si.numBytes = frames * si.blockAlign;
  return si;
}

namespace {

// Beyond these no recording exists; a header that claims more is damaged or hostile, and the
// buffers sized from it (a block, a frame) must stay within reach.
constexpr std::uint32_t MAX_CHANNELS = 255;
constexpr std::uint32_t MAX_RATE = 1536000;
constexpr std::uint32_t MAX_BYTES_PER_SAMPLE = 8;

// Why no recording has this format; nullptr when one may.
const char* implausible_format(const SampleInfo& si) {
  if (si.channels > MAX_CHANNELS) return "more channels than any recording has";
  if (si.samplesPerSec > MAX_RATE) return "a higher sample rate than any recording has";
  if (si.blockAlign > si.channels * MAX_BYTES_PER_SAMPLE) return "more bytes per sample frame than its channels can hold";
  return nullptr;
}

}  // namespace

int format_check_block_layout(const SampleInfo& si, ErrorText* error) {
  // Below 75 Hz a block would hold no sample frame at all.
  if (si.channels == 0 || si.bitsPerSample < 8 || si.blockAlign == 0 || si.bufferSize == 0 ||
      si.samplesPerSec < 75) {
    set_error_message(error,
                      "Unusable audio format (%u Hz, %u channels, %u bit, %u bytes/s, "
                      "block align %u): cannot measure it in blocks of 1/75 second",
                      si.samplesPerSec, si.channels, si.bitsPerSample, si.avgBytesPerSec,
                      si.blockAlign);
    return 0;
  }
  if (const char* reason = implausible_format(si)) {
    set_error_message(error, "Unusable audio format (%u Hz, %u channels, %u bit, block align %u): %s",
                      si.samplesPerSec, si.channels, si.bitsPerSample, si.blockAlign, reason);
    return 0;
  }
  return 1;
}

bool format_flush_track(const TrackRequest& request) {
  if (std::fflush(request.out) == 0) return true;
  const int error = errno;
  g_warning("Error writing to file %.*s: %s", static_cast<int>(request.path.size()), request.path.data(),
            g_strerror(error));
  return false;
}
