// Times one analysis pass of an audio document, polling every millisecond so the figure
// is not rounded up to the 33 ms poll of `tfold analyze`. Prints seconds, blocks and the
// peak resident memory in KiB.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "document/audio_document.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 1;
  }
  audio_document_init();
  const auto start = std::chrono::steady_clock::now();
  ErrorText error;
  AudioDocumentPtr document = audio_document_open(argv[1], &error);
  if (!document) {
    std::fprintf(stderr, "%s\n", error.value_or("").c_str());
    return 2;
  }
  while (!audio_document_is_analyzed(*document)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const auto blocks = audio_document_get_block_count(*document);
  audio_document_close(std::move(document));
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%.4f %llu %ld\n", elapsed.count(), static_cast<unsigned long long>(blocks),
              usage.ru_maxrss);
  return 0;
}
