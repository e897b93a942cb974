// The record of an opened MPEG audio file, shared by the module and its cutters.
#pragma once

#include <cinttypes>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <memory>
#include <optional>

#include <mpg123.h>

#include "formats/format.h"
#include "formats/mpeg/mpeg_index.h"

struct Mpg123Closer {
  void operator()(mpg123_handle* handle) const noexcept {
    mpg123_close(handle);
    mpg123_delete(handle);
  }
};
using Mpg123Ptr = std::unique_ptr<mpg123_handle, Mpg123Closer>;

// Junk between frames is told once a file, by the first cut that meets each stretch of it:
// every later track leaves it out just the same.
class MpegGapReport {
 public:
  void tell(const std::string& path, std::uint64_t offset, std::uint64_t bytes) {
    const std::lock_guard<std::mutex> guard(lock_);
    if (!told_.insert(offset).second) return;
    g_warning("%s: %" PRIu64 " bytes of non-frame data at 0x%08" PRIx64 " to 0x%08" PRIx64
              " are skipped; no track holds them",
              path.c_str(), bytes, offset, offset + bytes - 1);
  }

 private:
  std::mutex lock_;
  std::set<std::uint64_t> told_;
};

struct MpegAudioFile final : AudioFile {
  Mpg123Ptr decoder;
  std::uint64_t decoded_pos = 0;  // PCM byte offset of the next byte the decoder delivers
  // Samples at the head of the frames that gapless decoding drops (encoder and decoder
  // delay announced by an Info frame); decoded sample s lies at frame sample s + this.
  std::uint64_t gapless_delay = 0;
  // Built when the file is opened (else by the first cut) and kept for every cut.
  std::optional<MpegFrameIndex> index;
  bool gapless_refused = false;  // the warning that layer I/II tracks cannot be gapless was given
  mutable MpegGapReport gap_report;  // telling is no change of the file's state
};

// The module's open_file without its look at the name: a stream the caller knows to be MPEG
// audio (a track read back under a temporary name).
OpenResult mpeg_open_stream(const FormatModule& module, const std::string& path);
