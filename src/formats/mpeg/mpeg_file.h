// The record of an opened MPEG audio file, shared by the module and its cutters.
#pragma once

#include <cstdint>
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

struct MpegAudioFile final : AudioFile {
  Mpg123Ptr decoder;
  std::uint64_t decoded_pos = 0;  // PCM byte offset of the next byte the decoder delivers
  // Samples at the head of the frames that gapless decoding drops (encoder and decoder
  // delay announced by an Info frame); decoded sample s lies at frame sample s + this.
  std::uint64_t gapless_delay = 0;
  // Built when the file is opened (else by the first cut) and kept for every cut.
  std::optional<MpegFrameIndex> index;
  bool gapless_refused = false;  // the warning that layer I/II tracks cannot be gapless was given
};
