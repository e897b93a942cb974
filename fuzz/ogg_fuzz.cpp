// The Ogg Vorbis packet index and cutter on arbitrary bytes. An index that is built must be
// consistent: links in file order, each with pages in order and packets whose ends never go
// back, adding up to the file's decoded length. Every range the cutter accepts must come out
// as a file of sound pages (libogg checks their CRCs) whose streams end on a granule position
// that states the range's length, and which indexes again to that many samples. Damaged inputs
// index with gaps, and ranges next to each gap and across it are cut as well.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

#include <ogg/ogg.h>

#include "formats/ogg/ogg_cutter.h"
#include "formats/ogg/ogg_index.h"
#include "fuzz_support.h"

using namespace tfold_fuzz;

namespace {

void check_index(const OggPacketIndex& index) {
  std::int64_t decoded = 0;
  std::uint64_t after_page = 0;
  for (const OggLink& link : index.links) {
    FUZZ_CHECK(!link.pages.empty() && !link.packet_ends.empty());
    FUZZ_CHECK(link.packet_ends.front() == 0);
    FUZZ_CHECK(std::is_sorted(link.packet_ends.begin(), link.packet_ends.end()));
    FUZZ_CHECK(link.pages.front().offset >= after_page);
    for (std::size_t i = 1; i < link.pages.size(); ++i) {
      FUZZ_CHECK(link.pages[i].offset >= link.pages[i - 1].offset + link.pages[i - 1].bytes);
      FUZZ_CHECK(link.pages[i].first_packet >= link.pages[i - 1].first_packet);
    }
    after_page = link.pages.back().offset + link.pages.back().bytes;
    std::size_t after_gap = 0;
    for (const OggLinkGap& gap : link.gaps) {
      FUZZ_CHECK(gap.packet > after_gap && gap.packet <= link.packet_ends.size() && !gap.reason.empty());
      after_gap = gap.packet;
    }
    FUZZ_CHECK(link.decoded_start == decoded);
    FUZZ_CHECK(link.decoded_length() >= 0);
    decoded += link.decoded_length();
  }
  FUZZ_CHECK(decoded == index.decoded_length);
}

// The granule position of the last page of every stream in bytes, which must all be pages.
std::map<std::uint32_t, std::int64_t> final_granules(const std::vector<std::uint8_t>& bytes) {
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  char* buffer = ogg_sync_buffer(&sync, static_cast<long>(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), buffer);
  ogg_sync_wrote(&sync, static_cast<long>(bytes.size()));
  std::map<std::uint32_t, std::int64_t> granules;
  std::size_t paged = 0;
  ogg_page page;
  int got = 0;
  while ((got = ogg_sync_pageout(&sync, &page)) == 1) {
    paged += static_cast<std::size_t>(page.header_len + page.body_len);
    if (ogg_page_eos(&page)) granules[static_cast<std::uint32_t>(ogg_page_serialno(&page))] = ogg_page_granulepos(&page);
  }
  ogg_sync_clear(&sync);
  FUZZ_CHECK(got == 0 && paged == bytes.size());
  return granules;
}

std::vector<std::uint8_t> read_all(std::FILE* file) {
  std::vector<std::uint8_t> bytes;
  std::rewind(file);
  std::uint8_t chunk[1 << 14];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  return bytes;
}

void check_cut(const OggPacketIndex& index, const AudioFile& source, std::int64_t start,
               std::int64_t end) {
  ErrorText reason;
  const std::optional<std::vector<OggCutPart>> parts = ogg_cut_plan(index, start, end, 7, &reason);
  if (!parts) {
    FUZZ_CHECK(reason.has_value());
    return;
  }
  const std::string out_path = scratch_dir() + "/track.ogg";
  const FilePtr out(std::fopen(out_path.c_str(), "w+b"));
  FUZZ_CHECK(out != nullptr);
  const TrackRequest request{.out = out.get(), .path = out_path, .track_number = 7};
  if (ogg_cut(index, source, request, {start, end}) != 0) return;
  FUZZ_CHECK(std::fflush(out.get()) == 0);
  const std::map<std::uint32_t, std::int64_t> granules = final_granules(read_all(out.get()));
  FUZZ_CHECK(granules.size() == parts->size());
  std::int64_t length = 0;
  for (const OggCutPart& part : *parts) {
    FUZZ_CHECK(granules.count(part.serial) == 1 && granules.at(part.serial) == part.length);
    length += part.length;
  }
  FUZZ_CHECK(length == std::min(end, index.decoded_length) - start);
  ErrorText again_error;
  const std::optional<OggPacketIndex> again = ogg_index_packets(fileno(out.get()), &again_error);
  FUZZ_CHECK(again.has_value() && again->decoded_length == length);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  quiet_glib_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = write_input("input.ogg", data, size);
  AudioFile source;
  source.path = path;
  source.fp.reset(std::fopen(path.c_str(), "rb"));
  FUZZ_CHECK(source.fp != nullptr);
  ErrorText error;
  const std::optional<OggPacketIndex> index = ogg_index_packets(fileno(source.fp.get()), &error);
  if (!index) {
    FUZZ_CHECK(error.has_value());
    return 0;
  }
  check_index(*index);
  const std::int64_t length = index->decoded_length;
  // The whole, halves, and a range the input's last bytes pick.
  const std::int64_t picked = size >= 2 ? (data[size - 1] | data[size - 2] << 8) : 0;
  const std::pair<std::int64_t, std::int64_t> ranges[] = {
      {0, length}, {0, length / 2}, {length / 2, length}, {picked % (length + 1), length + 100},
  };
  for (const auto& [start, end] : ranges) check_cut(*index, source, start, end);
  // Damage leaves gaps: ranges that end at one, start after one, or hold one.
  for (const OggLink& link : index->links) {
    for (const OggLinkGap& gap : link.gaps) {
      const std::int64_t before = link.decoded_start + link.packet_ends[gap.packet - 1] - link.dropped;
      const std::int64_t after = gap.packet < link.packet_ends.size()
                                     ? link.decoded_start + link.packet_ends[gap.packet] - link.dropped
                                     : length;
      check_cut(*index, source, std::max<std::int64_t>(0, before - 3000), before);
      check_cut(*index, source, after, after + 3000);
      check_cut(*index, source, std::max<std::int64_t>(0, before - 3000), after + 3000);
    }
  }
  return 0;
}
