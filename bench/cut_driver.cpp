// Times a format module's cutter alone: opens an audio file (whatever its module does on
// opening), then cuts it into equal tracks through write_range and reports the cutting's wall
// time. The tracks take the input's extension.
// Usage: cut_driver FILE OUTDIR TRACKS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/format.h"
#include "formats/registry.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FILE OUTDIR TRACKS\n", argv[0]);
    return 1;
  }
  const std::string in = argv[1];
  const std::string out_dir = argv[2];
  const int tracks = std::atoi(argv[3]);
  const std::size_t dot = in.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : in.substr(dot);
  format_init();
  ErrorText error;
  AudioFilePtr file = format_open_file(in, &error);
  if (!file) {
    std::fprintf(stderr, "%s: %s\n", in.c_str(), error.value_or("").c_str());
    return 1;
  }
  const SampleInfo& si = file->si;
  const std::uint64_t blocks = format_block_count(si.numBytes / si.blockAlign, si.samplesPerSec) - 1;
  const auto started = std::chrono::steady_clock::now();
  for (int k = 0; k < tracks; ++k) {
    const std::uint64_t start = format_block_offset(blocks * k / tracks, si);
    const std::uint64_t end = k + 1 < tracks ? format_block_offset(blocks * (k + 1) / tracks, si) : 0;
    char name[32];
    std::snprintf(name, sizeof name, "/%02d", k + 1);
    const std::string track = out_dir + name + extension;
    if (format_write_track(*file, {.path = track, .start = start, .end = end, .track_number = k + 1}) == -1) {
      return 1;
    }
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  std::printf("%.4f\n", took.count());
  format_close_file(std::move(file));
  return 0;
}
