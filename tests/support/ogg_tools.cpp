#include "support/ogg_tools.h"

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <ogg/ogg.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstring>

namespace tfold_test {

std::vector<std::int16_t> DecodedVorbis::frames(std::int64_t first, std::int64_t count) const {
  const std::int64_t from = std::clamp<std::int64_t>(first, 0, this->frames()) * channels;
  const std::int64_t to = std::clamp<std::int64_t>(first + count, 0, this->frames()) * channels;
  return std::vector<std::int16_t>(samples.begin() + from, samples.begin() + std::max(from, to));
}

namespace {

// The index of the packet that holds frame, or -1.
std::ptrdiff_t packet_at(const DecodedVorbis& decoded, std::int64_t frame) {
  const auto after = std::upper_bound(decoded.packet_starts.begin(), decoded.packet_starts.end(), frame);
  return (after - decoded.packet_starts.begin()) - 1;
}

std::int64_t packet_size(const DecodedVorbis& decoded, std::ptrdiff_t packet) {
  if (packet < 0 || packet >= std::ptrdiff_t(decoded.packet_starts.size())) return 0;
  const std::int64_t end = packet + 1 < std::ptrdiff_t(decoded.packet_starts.size())
                               ? decoded.packet_starts[std::size_t(packet) + 1]
                               : decoded.frames();
  return end - decoded.packet_starts[std::size_t(packet)];
}

}  // namespace

std::int64_t DecodedVorbis::packet_size_at(std::int64_t frame) const {
  return packet_size(*this, packet_at(*this, frame));
}

std::int64_t DecodedVorbis::previous_packet_size_at(std::int64_t frame) const {
  return packet_size(*this, packet_at(*this, frame) - 1);
}

bool DecodedVorbis::packet_starts_at(std::int64_t frame) const {
  return std::binary_search(packet_starts.begin(), packet_starts.end(), frame);
}

DecodedVorbis decode_vorbis(const std::filesystem::path& path) {
  DecodedVorbis decoded;
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) return decoded;
  decoded.opened = true;
  decoded.channels = ov_info(&vf, -1)->channels;
  decoded.rate = ov_info(&vf, -1)->rate;
  decoded.pcm_total = ov_pcm_total(&vf, -1);
  for (long link = 0; link < ov_streams(&vf); ++link) {
    const vorbis_comment* comment = ov_comment(&vf, link);
    std::vector<std::string> texts{comment->vendor};
    for (int i = 0; i < comment->comments; ++i) texts.emplace_back(comment->user_comments[i]);
    decoded.comments.push_back(texts);
  }
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const long got = ov_read(&vf, buffer.data(), int(buffer.size()), 0, 2, 1, nullptr);
    if (got == OV_HOLE) continue;
    if (got <= 0) break;
    decoded.packet_starts.push_back(decoded.frames());
    const auto* first = reinterpret_cast<const std::int16_t*>(buffer.data());
    decoded.samples.insert(decoded.samples.end(), first, first + got / 2);
  }
  ov_clear(&vf);
  return decoded;
}

std::vector<std::int16_t> decode_vorbis_after_seek(const std::filesystem::path& path,
                                                   std::int64_t frame, std::int64_t count) {
  std::vector<std::int16_t> samples;
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) return samples;
  const auto wanted = static_cast<std::size_t>(count * ov_info(&vf, -1)->channels);
  if (ov_pcm_seek(&vf, frame) == 0) {
    std::vector<char> buffer(1 << 16);
    while (samples.size() < wanted) {
      const int bytes = int(std::min(buffer.size(), (wanted - samples.size()) * 2));
      const long got = ov_read(&vf, buffer.data(), bytes, 0, 2, 1, nullptr);
      if (got == OV_HOLE) continue;
      if (got <= 0) break;
      const auto* first = reinterpret_cast<const std::int16_t*>(buffer.data());
      samples.insert(samples.end(), first, first + got / 2);
    }
  }
  ov_clear(&vf);
  return samples;
}

std::vector<OggPageLayout> ogg_page_layout(const Bytes& bytes) {
  ogg_sync_state sync;
  ogg_sync_init(&sync);
  char* buffer = ogg_sync_buffer(&sync, long(bytes.size()));
  std::memcpy(buffer, bytes.data(), bytes.size());
  ogg_sync_wrote(&sync, long(bytes.size()));
  std::vector<OggPageLayout> pages;
  std::uint64_t offset = 0;
  ogg_page page;
  while (ogg_sync_pageout(&sync, &page) == 1) {
    OggPageLayout layout;
    layout.offset = offset;
    layout.bytes = std::uint32_t(page.header_len + page.body_len);
    layout.serial = std::uint32_t(ogg_page_serialno(&page));
    layout.sequence = std::uint32_t(ogg_page_pageno(&page));
    layout.granule = ogg_page_granulepos(&page);
    layout.bos = ogg_page_bos(&page) != 0;
    layout.eos = ogg_page_eos(&page) != 0;
    layout.continued = ogg_page_continued(&page) != 0;
    layout.packets_ended = ogg_page_packets(&page);
    const int segments = page.header[26];
    layout.leaves_open = segments > 0 && page.header[27 + segments - 1] == 255;
    pages.push_back(layout);
    offset += layout.bytes;
  }
  ogg_sync_clear(&sync);
  return pages;
}

Bytes shift_granules(Bytes bytes, std::int64_t shift) {
  for (const OggPageLayout& layout : ogg_page_layout(bytes)) {
    if (layout.granule <= 0) continue;  // headers, and pages where no packet ends
    unsigned char* header = bytes.data() + layout.offset;
    const std::int64_t granule = layout.granule + shift;
    for (int i = 0; i < 8; ++i) header[6 + i] = static_cast<unsigned char>(std::uint64_t(granule) >> (8 * i));
    ogg_page page;
    page.header = header;
    page.header_len = 27 + header[26];
    page.body = header + page.header_len;
    page.body_len = long(layout.bytes) - page.header_len;
    ogg_page_checksum_set(&page);
  }
  return bytes;
}

}  // namespace tfold_test
