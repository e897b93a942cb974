// tfold analyze: open, analyse and preview one audio file.
#include <glib.h>

#include <cinttypes>
#include <cstdio>

#include "cli/commands.h"
#include "cli/options.h"
#include "document/audio_document.h"

namespace {

constexpr gulong POLL_INTERVAL_US = 33333;
constexpr gint64 PREVIEW_LENGTH_US = 10000000;

void wait_for_analysis(AudioDocument& document) {
  do {
    std::fprintf(stderr, "\r\033[KAnalyzing... [%3.0f%%]",
                 audio_document_get_progress(document) * 100.0);
    std::fflush(stderr);
    g_usleep(POLL_INTERVAL_US);
  } while (!audio_document_is_analyzed(document));
  std::fputs("\r\033[KAnalyzing... [DONE]\n", stderr);
  std::fflush(stderr);
}

void print_speed(std::uint64_t blocks, gint64 elapsed_us) {
  const auto per_second = blocks * 1000000 / static_cast<std::uint64_t>(elapsed_us);
  std::printf("%" PRIu64 " sample blocks analyzed in %.2f seconds = %" PRIu64 " blocks/sec\n",
              blocks, static_cast<double>(elapsed_us) / 1000000.0, per_second);
  std::fflush(stdout);
}

void preview(AudioDocument& document) {
  const gint64 deadline = g_get_monotonic_time() + PREVIEW_LENGTH_US;
  audio_document_start_playback(document, 0);
  do {
    std::fprintf(stderr, "\r\033[KPreviewing... [%" PRIu64 "]",
                 audio_document_get_play_position(document));
    std::fflush(stderr);
    g_usleep(POLL_INTERVAL_US);
  } while (audio_document_is_playing(document) && g_get_monotonic_time() < deadline);
  std::fputs("\r\033[KPreviewing... [DONE]\n", stderr);
  std::fflush(stderr);
  audio_document_stop_playback(document);
}

}  // namespace

int tfold_analyze(int argc, char** argv) {
  const SubcommandOptions options = {"AUDIO", "Opens and analyses an audio file, then plays up to ten seconds of it."};
  if (const std::optional<int> status = cli_parse_options(argc, argv, options)) return *status;
  if (argc != 2) {
    std::printf("Usage: %s [filename.wav]\n", argv[0]);
    return 1;
  }
  const char* path = argv[1];
  audio_document_init();
  ErrorText error;
  AudioDocumentPtr document = audio_document_open(path, &error);
  if (!document) {
    std::printf("Could not open %s: %s\n", path, error.value_or("").c_str());
    return 2;
  }
  audio_document_print_info(*document);
  std::fflush(stdout);

  const gint64 started = g_get_monotonic_time();
  wait_for_analysis(*document);
  const gint64 elapsed = g_get_monotonic_time() - started;
  if (const ErrorText failure = audio_document_get_error(*document)) {
    std::printf("Could not analyze %s: %s\n", path, failure->c_str());
    audio_document_close(std::move(document));
    return 2;
  }
  print_speed(audio_document_get_block_count(*document), elapsed);

  preview(*document);
  audio_document_close(std::move(document));
  return 0;
}
