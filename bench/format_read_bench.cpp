// Throughput of the CD audio and Ogg Vorbis modules: reading the whole audio block by block
// (as the analysis does) and, for CD audio, copying it as one track.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/cdda/cdda.h"
#include "formats/ogg/ogg.h"
#include "formats/registry.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void bench_reads(const FormatModule& module, const std::string& path) {
  AudioFilePtr file = format_take_file(module.open_file(module, path), nullptr);
  if (!file) {
    std::printf("%s: cannot open %s\n", module.name, path.c_str());
    return;
  }
  std::vector<std::uint8_t> block(file->si.bufferSize);
  const auto start = std::chrono::steady_clock::now();
  std::uint64_t offset = 0;
  for (std::int64_t got; (got = module.read_data(*file, block, offset)) > 0;) offset += got;
  const double took = seconds_since(start);
  std::printf("%-32s read %8.1f MB PCM in blocks of %5llu: %6.3f s, %7.1f MB/s\n", module.name,
              offset / 1e6, static_cast<unsigned long long>(block.size()), took,
              offset / 1e6 / took);
  if (&module == cdda_module()) {
    const auto copy_start = std::chrono::steady_clock::now();
    const std::string track = path + ".track.cdda.raw";
    const int rc = format_write_track(*file, {.path = track});
    const double copy_took = seconds_since(copy_start);
    std::printf("%-32s write_range of everything: rc %d, %6.3f s, %7.1f MB/s\n", module.name, rc,
                copy_took, offset / 1e6 / copy_took);
    std::remove((path + ".track.cdda.raw").c_str());
  }
  module.close_file(module, std::move(file));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s FILE.cdda.raw FILE.ogg\n", argv[0]);
    return 1;
  }
  bench_reads(*cdda_module(), argv[1]);
  bench_reads(*ogg_module(), argv[2]);
  return 0;
}
