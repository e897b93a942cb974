// Preview playback: the "play_sample" thread feeds the audio device chunk by chunk.
#include <pthread.h>

#include <cstdio>
#include <new>
#include <vector>

#include "document/audio_device.h"
#include "document/audio_document.h"
#include "formats/registry.h"

namespace {

void end_playback(AudioDocument& document) {
  audio_device_close();
  std::lock_guard lock(document.play_mutex);
  document.playing = 0;
}

// The stop check must never wait: a caller holding the lock would delay the next chunk.
bool stop_was_requested(AudioDocument& document) {
  std::unique_lock lock(document.play_mutex, std::try_to_lock);
  return lock.owns_lock() && document.stop_requested != 0;
}

void obey_stop(AudioDocument& document) {
  audio_device_close();
  std::lock_guard lock(document.play_mutex);
  document.playing = 0;
  document.stop_requested = 0;
}

void publish_position(AudioDocument& document, std::uint64_t position) {
  std::lock_guard lock(document.play_mutex);
  document.play_position = position;
}

}  // namespace

void play_thread(AudioDocument* document_pointer) {
  pthread_setname_np(pthread_self(), "play_sample");
  AudioDocument& document = *document_pointer;
  AudioFile& file = *document.audio_file;
  std::uint64_t start_offset = 0;
  {
    std::lock_guard lock(document.play_mutex);
    start_offset = document.play_start_offset;
  }
  if (audio_device_open(file.si) != 0) {
    end_playback(document);
    return;
  }
  std::vector<std::uint8_t> buffer;
  try {
    buffer.resize(PLAY_CHUNK);
  } catch (const std::bad_alloc&) {
    end_playback(document);
    std::printf("play_thread: out of memory\n");
    return;
  }

  std::int64_t got = format_read_data(file, buffer, start_offset);
  for (std::uint64_t k = 1; got >= 1 && got <= static_cast<std::int64_t>(PLAY_CHUNK); ++k) {
    // A failed chunk has reported itself; the preview goes on with the next one.
    audio_device_play(std::span(buffer.data(), static_cast<std::size_t>(got)));
    if (stop_was_requested(document)) {
      obey_stop(document);
      return;
    }
    got = format_read_data(file, buffer, start_offset + PLAY_CHUNK * k);
    // Every chunk counts as whole, so the last position may lie past the end of the data.
    const std::uint64_t played = start_offset + PLAY_CHUNK * (k + 1);
    publish_position(document, format_sample_block(played / file.si.blockAlign, file.si.samplesPerSec));
  }
  end_playback(document);
}

int audio_document_start_playback(AudioDocument& document, std::uint64_t start_block) {
  std::lock_guard lock(document.play_mutex);
  if (document.playing) return 2;
  if (!document.audio_file) return 3;
  // A decoding module reads through one decoder: the analysis must have let go of it.
  if (!audio_document_is_analyzed(document)) return 4;
  // A playback that ended by itself has left its thread to be joined; it takes this lock
  // no more, so joining under it cannot wait for us.
  if (document.play_thread_handle.joinable()) document.play_thread_handle.join();
  document.playing = 1;
  // A stop that came after the last playback's final check must not stop this one.
  document.stop_requested = 0;
  document.play_start_offset = format_block_offset(start_block, document.audio_file->si);
  document.play_position = start_block;
  document.play_thread_handle = std::thread(play_thread, &document);
  return 0;
}

void audio_document_stop_playback(AudioDocument& document) {
  std::thread running;
  {
    std::lock_guard lock(document.play_mutex);
    if (!document.playing) return;
    document.stop_requested = 1;
    running = std::move(document.play_thread_handle);
  }
  if (running.joinable()) running.join();
  // The thread may have ended by itself before it saw the request: drop it either way.
  std::lock_guard lock(document.play_mutex);
  document.stop_requested = 0;
}

int audio_document_is_playing(AudioDocument& document) {
  std::lock_guard lock(document.play_mutex);
  return document.playing;
}

std::uint64_t audio_document_get_play_position(AudioDocument& document) {
  std::lock_guard lock(document.play_mutex);
  return document.play_position;
}
