// The pages and packets of an Ogg Vorbis file, found once by the first cut and reused by the
// others. Nothing is decoded beyond the headers: a packet's length in samples follows from
// its block size alone.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/format.h"
#include "formats/ogg/ogg_stream.h"

struct OggIndexPage {
  std::uint64_t offset = 0;        // file position of the page
  std::uint32_t bytes = 0;         // header and body
  bool continued = false;          // begins with the rest of a packet from the page before
  std::uint64_t first_packet = 0;  // stream packet number of the first packet beginning here or later
};

// Audio a link lacks: pages lost or damaged, or the file's end cut into the stream. The
// samples between the end of audio packet `packet` - 1 and the end of audio packet `packet`
// cannot be decoded, and `packet` itself can only prime the decoder; `packet` equal to the
// link's packet count means that the link's end is lost and with it whatever came after
// its last packet.
struct OggLinkGap {
  std::size_t packet = 0;
  std::string reason;  // what was lost, with its byte offset, for the user
};

// One logical Vorbis stream: a link of a chained file, or the whole of any other.
//
// The raw timeline counts every sample the audio packets decode to, from the first audio
// packet on; the decoded timeline is what libvorbis delivers, the raw one less what the
// granule positions trim: `dropped` samples from raw sample `dropped_at` (a start trim) and
// `end_trim` samples at the end.
struct OggLink {
  std::uint32_t serial = 0;
  // Identification, comment and setup header, as the file has them.
  std::array<std::vector<std::uint8_t>, 3> headers;
  std::vector<OggIndexPage> pages;  // every page of the stream, in file order
  // Raw sample at which audio packet k (stream packet k + 3) ends; packet 0 only primes the
  // decoder and ends at 0.
  std::vector<std::int64_t> packet_ends;
  std::int64_t dropped_at = 0;
  std::int64_t dropped = 0;
  std::int64_t end_trim = 0;
  std::int64_t decoded_start = 0;  // the link's first sample in the file's decoded timeline
  // In packet order. After a gap, the packets stand where the granule positions of the pages
  // after it place them, so that the samples on both sides keep the places they have in the
  // undamaged file.
  std::vector<OggLinkGap> gaps;

  std::int64_t decoded_length() const { return packet_ends.back() - dropped - end_trim; }
  // The raw sample that decoded sample `decoded` of this link comes from.
  std::int64_t raw_sample(std::int64_t decoded) const {
    return decoded < dropped_at ? decoded : decoded + dropped;
  }
};

struct OggPacketIndex {
  std::vector<OggLink> links;  // the links with audio, in file order
  std::int64_t decoded_length = 0;
};

// Indexes the whole file from its first byte, reading by position: the descriptor's own
// position is neither used nor moved. Damaged or missing pages and an end cut short become
// gaps of the links they fall in (pages are found again at the next one whose CRC holds);
// bytes that are no page between or after the streams are passed over. std::nullopt, with the
// reason in *error, when no Vorbis audio can be placed: no stream, a missing or bad header, a
// stream without its headers, a gap before a stream has stated any granule position, granule
// positions that contradict the packets.
std::optional<OggPacketIndex> ogg_index_packets(int fd, ErrorText* error);

// The gap that took the end of the file's last link, when the file ends before its streams
// do; nullptr otherwise.
const OggLinkGap* ogg_index_lost_end(const OggPacketIndex& index);
