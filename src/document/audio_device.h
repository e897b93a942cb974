// The one audio output device of the process, used by the preview playback.
#pragma once

#include <cstdint>
#include <span>

#include "formats/format.h"

// 0, or -1 (with "Cannot open default libao device" on standard error) when no device
// opens or one is open already.
int audio_device_open(const SampleInfo& si);
// 0, or -1 when no device is open or playing fails.
int audio_device_play(std::span<const std::uint8_t> buffer);
// Closes the device if one is open.
void audio_device_close();

// What lies below the device: libao by default. A backend's play blocks until the
// output has taken the bytes, which paces the playback in real time.
struct AudioBackend {
  bool (*open)(const SampleInfo& si);
  bool (*play)(std::span<const std::uint8_t> buffer);
  void (*close)();
};
// nullptr restores libao. For tests that need no sound card or their own pacing.
void audio_device_set_backend(const AudioBackend* backend);
