#include "document/audio_device.h"

#include <ao/ao.h>

#include <cstdio>
#include <mutex>

namespace {

// libao keeps its own state between ao_initialize and ao_shutdown, so the library is
// brought up for each opening and shut down again with every close.
ao_device* libao_device = nullptr;

bool libao_open(const SampleInfo& si) {
  ao_initialize();
  ao_sample_format format{};
  format.bits = static_cast<int>(si.bitsPerSample);
  format.rate = static_cast<int>(si.samplesPerSec);
  format.channels = static_cast<int>(si.channels);
  format.byte_format = AO_FMT_LITTLE;
  format.matrix = nullptr;
  libao_device = ao_open_live(ao_default_driver_id(), &format, nullptr);
  if (libao_device == nullptr) {
    ao_shutdown();  // nothing will close this opening, so nothing else would shut it down
    return false;
  }
  return true;
}

bool libao_play(std::span<const std::uint8_t> buffer) {
  // ao_play does not write to the buffer; its prototype just lacks the const.
  char* samples = const_cast<char*>(reinterpret_cast<const char*>(buffer.data()));
  return ao_play(libao_device, samples, static_cast<uint_32>(buffer.size())) != 0;
}

void libao_close() {
  ao_close(libao_device);
  libao_device = nullptr;
  ao_shutdown();
}

constexpr AudioBackend LIBAO_BACKEND = {libao_open, libao_play, libao_close};

struct Device {
  std::mutex mutex;
  const AudioBackend* backend = &LIBAO_BACKEND;
  bool open = false;
};

Device& device() {
  static Device instance;
  return instance;
}

}  // namespace

int audio_device_open(const SampleInfo& si) {
  Device& dev = device();
  std::lock_guard lock(dev.mutex);
  // One device per process: a second preview elsewhere does not take it over.
  if (!dev.open && dev.backend->open(si)) {
    dev.open = true;
    return 0;
  }
  std::fputs("Cannot open default libao device\n", stderr);
  return -1;
}

int audio_device_play(std::span<const std::uint8_t> buffer) {
  Device& dev = device();
  std::lock_guard lock(dev.mutex);
  if (!dev.open) return -1;
  if (!dev.backend->play(buffer)) {
    std::fputs("Error in ao_play()\n", stderr);
    return -1;
  }
  return 0;
}

void audio_device_close() {
  Device& dev = device();
  std::lock_guard lock(dev.mutex);
  if (!dev.open) return;
  dev.backend->close();
  dev.open = false;
}

void audio_device_set_backend(const AudioBackend* backend) {
  Device& dev = device();
  std::lock_guard lock(dev.mutex);
  dev.backend = backend != nullptr ? backend : &LIBAO_BACKEND;
}
