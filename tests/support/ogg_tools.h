// Reading Ogg Vorbis files in tests: what libvorbisfile decodes them to, and the layout of their
// pages, so that a cut file is judged by what a player gets from it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/harness.h"

namespace tfold_test {

struct DecodedVorbis {
  bool opened = false;
  int channels = 0;
  long rate = 0;
  std::int64_t pcm_total = -1;             // ov_pcm_total of the whole file
  std::vector<std::int16_t> samples;       // interleaved
  // The sample frame where each packet's samples begin: libvorbisfile hands out one packet's
  // samples per read.
  std::vector<std::int64_t> packet_starts;
  std::vector<std::vector<std::string>> comments;  // every link's: vendor first, then its tags

  std::int64_t frames() const { return channels == 0 ? 0 : std::int64_t(samples.size()) / channels; }
  // Frames [first, first + count) as interleaved samples.
  std::vector<std::int16_t> frames(std::int64_t first, std::int64_t count) const;
  // Size of the packet that holds frame `frame` (0 when there is none).
  std::int64_t packet_size_at(std::int64_t frame) const;
  std::int64_t previous_packet_size_at(std::int64_t frame) const;
  bool packet_starts_at(std::int64_t frame) const;
};

DecodedVorbis decode_vorbis(const std::filesystem::path& path);
// What a player that seeks to `frame` of the file with ov_pcm_seek gets: up to `count` frames,
// interleaved; empty when the seek fails. The seek goes by the pages' granule positions.
std::vector<std::int16_t> decode_vorbis_after_seek(const std::filesystem::path& path,
                                                   std::int64_t frame, std::int64_t count);

struct OggPageLayout {
  std::uint64_t offset = 0;
  std::uint32_t bytes = 0;
  std::uint32_t serial = 0;
  std::uint32_t sequence = 0;
  std::int64_t granule = 0;
  bool bos = false;
  bool eos = false;
  bool continued = false;
  int packets_ended = 0;   // packets that end on the page
  bool leaves_open = false;  // the last packet goes on on the next page
};

// The pages of a file, read with libogg (which checks every page's CRC). Stops at the first
// bytes that are no valid page.
std::vector<OggPageLayout> ogg_page_layout(const Bytes& bytes);

// The file with every audio page's granule position moved by `shift` and its CRC made anew:
// a stream that starts at a sample other than 0.
Bytes shift_granules(Bytes bytes, std::int64_t shift);

}  // namespace tfold_test
