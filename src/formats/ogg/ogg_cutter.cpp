#include "formats/ogg/ogg_cutter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <span>
#include <string_view>

#include <glib.h>
#include <vorbis/codec.h>

#include "formats/ogg/ogg_crc.h"
#include "formats/ogg/ogg_page.h"
#include "formats/ogg/ogg_page_reader.h"
#include "formats/ogg/ogg_stream.h"
#include "formats/tags/vorbis_comments.h"
#include "io/byte_order.h"

namespace {

constexpr std::size_t OUTPUT_BYTES = 256 << 10;

// A serial number that depends on nothing but the source's serial, the track's number and the
// part, so that the same split gives the same bytes. Chained streams must differ in serial.
std::uint32_t part_serial(std::uint32_t source_serial, std::uint32_t track_number,
                          const std::vector<OggCutPart>& earlier) {
  // The finaliser of SplitMix64: every input bit reaches every output bit.
  std::uint64_t mixed = (std::uint64_t{source_serial} << 32 | track_number) +
                        earlier.size() * 0x9E3779B97F4A7C15ull;
  mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
  mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
  auto serial = static_cast<std::uint32_t>(mixed ^ (mixed >> 31));
  while (std::any_of(earlier.begin(), earlier.end(),
                     [serial](const OggCutPart& part) { return part.serial == serial; })) {
    ++serial;
  }
  return serial;
}

// The first gap that packets [priming, last] cross, or the lost end of the link when the
// range reaches it; nullptr when there is none.
const OggLinkGap* gap_in_the_way(const OggLink& link, std::size_t priming, std::size_t last,
                                 bool reaches_end) {
  for (const OggLinkGap& gap : link.gaps) {
    if (gap.packet > priming && (gap.packet <= last || (reaches_end && gap.packet == link.packet_ends.size()))) {
      return &gap;
    }
  }
  return nullptr;
}

void refuse_for(const OggLinkGap& gap, ErrorText* error) {
  set_error_message(error, "%s; the range's samples there are lost and the track is not written",
                    gap.reason.c_str());
}

// true, with the reason in *error, when packets [priming, last] cannot be read for a gap.
bool refuse_gap(const OggLink& link, std::size_t priming, std::size_t last, bool reaches_end,
                ErrorText* error) {
  const OggLinkGap* gap = gap_in_the_way(link, priming, last, reaches_end);
  if (gap == nullptr) return false;
  refuse_for(*gap, error);
  return true;
}

// The packets of link for its decoded samples [first, stop).
std::optional<OggCutPart> plan_part(const OggLink& link, std::int64_t first, std::int64_t stop,
                                    ErrorText* error) {
  if (link.dropped > 0 && first < link.dropped_at && stop > link.dropped_at) {
    set_error_message(error, "%s",
                      "the range spans samples that the source drops inside its first audio "
                      "page, which no track can drop again");
    return std::nullopt;
  }
  const std::vector<std::int64_t>& ends = link.packet_ends;
  const std::int64_t raw_first = link.raw_sample(first);
  const std::int64_t raw_stop = link.raw_sample(stop - 1) + 1;
  // The first packet that ends after the first sample holds it; packet 0 ends at 0.
  const auto first_packet = static_cast<std::size_t>(
      std::upper_bound(ends.begin(), ends.end(), raw_first) - ends.begin());
  auto last_packet = static_cast<std::size_t>(
      std::lower_bound(ends.begin(), ends.end(), raw_stop) - ends.begin());
  const bool reaches_end = stop == link.decoded_length();
  if (refuse_gap(link, first_packet - 1, last_packet, reaches_end, error)) return std::nullopt;
  const std::int64_t start_trim = raw_first - ends[first_packet - 1];
  if (last_packet == first_packet && start_trim > 0) {
    // libvorbis trims the start only on a page that is not the stream's last, so a second
    // audio packet must follow; the end trim can take no more than that packet's samples.
    if (ends[first_packet] != raw_stop || first_packet + 1 == ends.size()) {
      set_error_message(error,
                        "its %" PRId64 " samples lie inside one Vorbis packet, which cannot "
                        "carry both a start and an end trim",
                        stop - first);
      return std::nullopt;
    }
    ++last_packet;
    if (refuse_gap(link, first_packet - 1, last_packet, reaches_end, error)) return std::nullopt;
  }
  OggCutPart part;
  part.priming = first_packet - 1;
  part.last = last_packet;
  part.raw_start = raw_first;
  part.length = stop - first;
  return part;
}

bool read_page(OggPageReader& reader, const OggIndexPage& entry, ogg_page& page) {
  return reader.read(entry.offset, entry.bytes, page);
}

// Collects finished pages and writes them to the output in large pieces.
class PageWriter {
 public:
  explicit PageWriter(std::FILE* out) : out_(out) { buffer_.reserve(OUTPUT_BYTES); }

  bool add(const ogg_page& page) {
    buffer_.insert(buffer_.end(), page.header, page.header + page.header_len);
    buffer_.insert(buffer_.end(), page.body, page.body + page.body_len);
    return buffer_.size() < OUTPUT_BYTES || flush();
  }

  bool flush() {
    const bool written = std::fwrite(buffer_.data(), 1, buffer_.size(), out_) == buffer_.size();
    buffer_.clear();
    return written;
  }

 private:
  std::FILE* out_;
  std::vector<unsigned char> buffer_;
};

// One logical stream of the output: packets in, pages built by libogg out.
class StreamWriter {
 public:
  StreamWriter(std::uint32_t serial, PageWriter& pages) : stream_(serial), pages_(pages) {}

  // libogg copies the packet: it never writes through the pointer it is given.
  void add(const unsigned char* data, long bytes, std::int64_t granule, bool end_of_stream) {
    ogg_packet packet{};
    packet.packet = const_cast<unsigned char*>(data);
    packet.bytes = bytes;
    packet.b_o_s = packet_number_ == 0 ? 1 : 0;
    packet.e_o_s = end_of_stream ? 1 : 0;
    packet.granulepos = granule;
    packet.packetno = packet_number_++;
    ogg_stream_packetin(stream_.get(), &packet);
  }
  void add(const std::vector<std::uint8_t>& header) {
    add(header.data(), static_cast<long>(header.size()), 0, false);
  }

  // Writes the pages that are full.
  bool pass_full_pages() { return pass(ogg_stream_pageout); }
  // Writes every packet given so far, ending the page there.
  bool end_page() { return pass(ogg_stream_flush); }

  // Writes a page made elsewhere as this stream's next, with the granule position given; every
  // packet given before must have been written. Only the header changes: the body is the
  // source's, copied as it is, and the checksum moves with the header alone, so a page that is
  // damaged in the source stays damaged in the track instead of being made to look sound.
  bool add_page(const ogg_page& source, std::int64_t granule) {
    std::array<unsigned char, OGG_MAX_PAGE_HEADER_BYTES> header{};
    std::memcpy(header.data(), source.header, static_cast<std::size_t>(source.header_len));
    header[OGG_FLAGS_AT] &= OGG_CONTINUED_FLAG;  // never a first or a last page here
    write_le(header.data() + OGG_GRANULE_AT, static_cast<std::uint64_t>(granule), 8);
    write_le(header.data() + OGG_SERIAL_AT, static_cast<std::uint32_t>(stream_.get()->serialno), 4);
    write_le(header.data() + OGG_SEQUENCE_AT, static_cast<std::uint32_t>(stream_.get()->pageno++), 4);
    const auto header_bytes = static_cast<std::size_t>(source.header_len);
    const std::uint32_t crc = ogg_crc_after_header_change(
        read_le32(source.header + OGG_CHECKSUM_AT), std::span(source.header, header_bytes),
        std::span(header.data(), header_bytes), header_bytes + static_cast<std::uint64_t>(source.body_len));
    write_le(header.data() + OGG_CHECKSUM_AT, crc, 4);
    ogg_page page = source;
    page.header = header.data();
    return pages_.add(page);
  }

 private:
  bool pass(int (*take)(ogg_stream_state*, ogg_page*)) {
    ogg_page page;
    while (take(stream_.get(), &page) != 0) {
      if (!pages_.add(page)) return false;
    }
    return true;
  }

  OggStream stream_;
  PageWriter& pages_;
  std::int64_t packet_number_ = 0;
};

// The index of the page on which stream packet `packet` begins.
std::size_t page_of_packet(const OggLink& link, std::uint64_t packet) {
  const auto after = std::upper_bound(
      link.pages.begin(), link.pages.end(), packet,
      [](std::uint64_t number, const OggIndexPage& page) { return number < page.first_packet; });
  return static_cast<std::size_t>(after - link.pages.begin()) - 1;
}

// Hands out a link's packets, from the first that begins on the page of a given packet.
class PacketReader {
 public:
  PacketReader(const OggLink& link, OggPageReader& pages, std::uint64_t packet)
      : link_(link), pages_(pages), stream_(link.serial), next_page_(page_of_packet(link, packet)),
        next_number_(link.pages[next_page_].first_packet) {}

  // 1 with the packet and its stream packet number, 0 after the stream's last, -1 when the
  // source no longer holds what the index found.
  int next(ogg_packet& packet, std::uint64_t& number) {
    for (;;) {
      const int got = ogg_stream_packetout(stream_.get(), &packet);
      if (got < 0) return -1;
      if (got > 0) {
        number = next_number_++;
        return 1;
      }
      if (next_page_ == link_.pages.size()) return 0;
      ogg_page page;
      if (!read_page(pages_, link_.pages[next_page_++], page)) return -1;
      if (ogg_stream_pagein(stream_.get(), &page) != 0) return -1;
    }
  }

 private:
  const OggLink& link_;
  OggPageReader& pages_;
  OggStream stream_;
  std::size_t next_page_;
  std::uint64_t next_number_;
};

// The granule position of an audio packet of the part: samples from the part's first one.
// The priming packet decodes to nothing; the last one states the part's length, so that the
// decoder trims the end.
std::int64_t granule_of(const OggLink& link, const OggCutPart& part, std::size_t audio_packet) {
  if (audio_packet == part.last) return part.length;
  if (audio_packet == part.priming) return 0;
  return link.packet_ends[audio_packet] - part.raw_start;
}

enum class PartResult { written, source_changed, write_failed, bad_comments };

// What a comment header holds.
struct CommentHeader {
  std::string vendor;
  std::vector<std::string> comments;
};

// The link's comment header as libvorbis reads it; nullopt when it cannot be read.
std::optional<CommentHeader> read_comment_header(const OggLink& link) {
  VorbisHeaders headers;
  for (std::size_t k = 0; k < 2; ++k) {
    ogg_packet packet{};
    packet.packet = const_cast<unsigned char*>(link.headers[k].data());
    packet.bytes = static_cast<long>(link.headers[k].size());
    packet.b_o_s = k == 0 ? 1 : 0;
    packet.packetno = static_cast<ogg_int64_t>(k);
    if (!headers.add(packet)) return std::nullopt;
  }
  const vorbis_comment& source = headers.comment();
  CommentHeader header{source.vendor != nullptr ? source.vendor : "", {}};
  for (int i = 0; i < source.comments; ++i) {
    header.comments.emplace_back(source.user_comments[i], static_cast<std::size_t>(source.comment_lengths[i]));
  }
  return header;
}

void put_text(std::vector<std::uint8_t>& out, std::string_view text) {
  append_le(out, text.size(), 4);
  out.insert(out.end(), text.begin(), text.end());
}

// Packed here rather than by libvorbis, which would put its own vendor string in place of the
// encoder's.
std::vector<std::uint8_t> pack_comment_header(const CommentHeader& header) {
  std::vector<std::uint8_t> packet = {0x03, 'v', 'o', 'r', 'b', 'i', 's'};
  put_text(packet, header.vendor);
  append_le(packet, header.comments.size(), 4);
  for (const std::string& comment : header.comments) put_text(packet, comment);
  packet.push_back(0x01);  // the framing bit
  return packet;
}

// The link's comment header as a track carries it: the source's comments less those of the
// whole source, with the fields of tags (may be null) in place of the source's of the same
// names. The source's own bytes where that changes nothing; empty when tags are given and the
// source's header cannot be read.
std::vector<std::uint8_t> track_comment_header(const OggLink& link, const TrackTags* tags) {
  std::optional<CommentHeader> header = read_comment_header(link);
  if (!header) return tags != nullptr ? std::vector<std::uint8_t>{} : link.headers[1];
  std::vector<std::string> comments = vorbis_comments_of_part(header->comments);
  if (tags == nullptr && comments.size() == header->comments.size()) return link.headers[1];
  header->comments = tags != nullptr ? vorbis_comments_for_track(comments, *tags) : std::move(comments);
  return pack_comment_header(*header);
}

// The headers on pages of their own, as decoders expect: the identification header alone on
// the first page.
PartResult write_headers(const OggLink& link, StreamWriter& stream, const TrackTags* tags) {
  const std::vector<std::uint8_t> comments = track_comment_header(link, tags);
  if (comments.empty()) return PartResult::bad_comments;
  stream.add(link.headers[0]);
  if (!stream.end_page()) return PartResult::write_failed;
  stream.add(comments);
  stream.add(link.headers[2]);
  return stream.end_page() ? PartResult::written : PartResult::write_failed;
}

// Passes stream packets [from, to] of the part through libogg, ending a page after `to`.
PartResult copy_packets(const OggLink& link, const OggCutPart& part, OggPageReader& pages,
                        StreamWriter& stream, std::uint64_t from, std::uint64_t to) {
  PacketReader packets(link, pages, from);
  ogg_packet packet;
  std::uint64_t number = 0;
  for (;;) {
    if (packets.next(packet, number) != 1) return PartResult::source_changed;
    if (number < from) continue;
    const auto audio_packet = static_cast<std::size_t>(number - VORBIS_HEADER_PACKETS);
    stream.add(packet.packet, packet.bytes, granule_of(link, part, audio_packet),
               audio_packet == part.last);
    // The start trim holds only on a first audio page of the priming packet and the first
    // packet with samples.
    const bool page_ends = number == to || audio_packet == part.priming + 1;
    if (!(page_ends ? stream.end_page() : stream.pass_full_pages())) return PartResult::write_failed;
    if (number == to) return PartResult::written;
  }
}

// Source pages [first, end) that can go into the track as they are but for their headers:
// they begin and end on packet boundaries, after the first audio page's two packets and
// before the last packet, which carries the end trim. Empty when the part has none.
struct PageRun {
  std::size_t first = 0;
  std::size_t end = 0;
};

PageRun whole_pages(const OggLink& link, const OggCutPart& part) {
  const std::vector<OggIndexPage>& pages = link.pages;
  const std::uint64_t after_first_page = part.priming + 2 + VORBIS_HEADER_PACKETS;
  const std::uint64_t last = part.last + VORBIS_HEADER_PACKETS;
  PageRun run;
  run.first = page_of_packet(link, after_first_page);
  while (run.first < pages.size() &&
         (pages[run.first].continued || pages[run.first].first_packet < after_first_page)) {
    ++run.first;
  }
  run.end = page_of_packet(link, last);
  while (run.end > run.first && pages[run.end].continued) --run.end;
  if (run.end <= run.first) return {};
  return run;
}

// Copies the pages of run. The granule position of each is rebased from the index, since the
// source's counts from the source's first sample.
PartResult copy_pages(const OggLink& link, const OggCutPart& part, OggPageReader& pages,
                      StreamWriter& stream, const PageRun& run) {
  for (std::size_t k = run.first; k < run.end; ++k) {
    const OggIndexPage& entry = link.pages[k];
    ogg_page page;
    if (!read_page(pages, entry, page) ||
        static_cast<std::uint32_t>(ogg_page_serialno(&page)) != link.serial ||
        (ogg_page_continued(&page) != 0) != entry.continued) {
      return PartResult::source_changed;
    }
    const int finished = ogg_page_packets(&page);
    std::int64_t granule = -1;
    if (finished > 0) {
      // Stream packets finished by the end of the page, less one: the page's last.
      const std::uint64_t last_finished =
          entry.first_packet - (entry.continued ? 1 : 0) + static_cast<std::uint64_t>(finished) - 1;
      if (last_finished < part.priming + 2 + VORBIS_HEADER_PACKETS || last_finished >= part.last + VORBIS_HEADER_PACKETS) {
        return PartResult::source_changed;
      }
      granule = granule_of(link, part, static_cast<std::size_t>(last_finished - VORBIS_HEADER_PACKETS));
    }
    if (!stream.add_page(page, granule)) return PartResult::write_failed;
  }
  return PartResult::written;
}

// Headers, then the packets of the first audio page and of the pages up to a page boundary
// through libogg, the whole pages after them as they are, and the packets of the last pages
// through libogg again: most of a long track is copied page by page.
PartResult write_part(const OggLink& link, const OggCutPart& part, OggPageReader& pages,
                      PageWriter& out, const TrackTags* tags) {
  StreamWriter stream(part.serial, out);
  if (const PartResult headers = write_headers(link, stream, tags); headers != PartResult::written) {
    return headers;
  }
  const std::uint64_t priming = part.priming + VORBIS_HEADER_PACKETS;
  const std::uint64_t last = part.last + VORBIS_HEADER_PACKETS;
  const PageRun run = whole_pages(link, part);
  if (run.end == 0) return copy_packets(link, part, pages, stream, priming, last);
  PartResult result = copy_packets(link, part, pages, stream, priming, link.pages[run.first].first_packet - 1);
  if (result == PartResult::written) result = copy_pages(link, part, pages, stream, run);
  if (result == PartResult::written) {
    result = copy_packets(link, part, pages, stream, link.pages[run.end].first_packet, last);
  }
  return result;
}

// The source bytes the parts' packets span, for the progress fractions.
std::uint64_t span_bytes(const OggPacketIndex& index, const std::vector<OggCutPart>& parts) {
  std::uint64_t bytes = 0;
  for (const OggCutPart& part : parts) {
    const OggLink& link = index.links[part.link];
    const OggIndexPage& first = link.pages[page_of_packet(link, part.priming + VORBIS_HEADER_PACKETS)];
    const OggIndexPage& last = link.pages[page_of_packet(link, part.last + VORBIS_HEADER_PACKETS)];
    bytes += last.offset + last.bytes - first.offset;
  }
  return bytes;
}

}  // namespace

std::optional<std::vector<OggCutPart>> ogg_cut_plan(const OggPacketIndex& index,
                                                    std::int64_t start, std::int64_t end,
                                                    std::uint32_t track_number,
                                                    ErrorText* error) {
  const std::int64_t stop = std::min(end, index.decoded_length);
  if (const OggLinkGap* gap = ogg_index_lost_end(index); start >= stop && gap != nullptr) {
    // Past the end of what is left of a file cut short.
    refuse_for(*gap, error);
    return std::nullopt;
  }
  if (start >= stop) {
    set_error_message(error, "the track starts at sample %" PRId64 " and ends at %" PRId64
                      ": it holds no sample of the %" PRId64 " there are",
                      start, end, index.decoded_length);
    return std::nullopt;
  }
  std::vector<OggCutPart> parts;
  for (std::size_t i = 0; i < index.links.size(); ++i) {
    const OggLink& link = index.links[i];
    const std::int64_t link_end = link.decoded_start + link.decoded_length();
    const std::int64_t first = std::max(start, link.decoded_start) - link.decoded_start;
    const std::int64_t last = std::min(stop, link_end) - link.decoded_start;
    if (first >= last) continue;
    std::optional<OggCutPart> part = plan_part(link, first, last, error);
    if (!part) return std::nullopt;
    part->link = i;
    part->serial = part_serial(link.serial, track_number, parts);
    parts.push_back(*part);
  }
  return parts;
}

int ogg_cut(const OggPacketIndex& index, const AudioFile& source, const TrackRequest& request,
            OggSampleRange range) {
  const auto [start, end] = range;
  const std::string_view out_name = request.path;
  const auto track_number = static_cast<std::uint32_t>(std::max(request.track_number, 0));
  ErrorText reason;
  const std::optional<std::vector<OggCutPart>> parts =
      ogg_cut_plan(index, start, end, track_number, &reason);
  if (!parts) {
    g_warning("Cannot cut samples %" PRId64 " to %" PRId64 " of %s: %s", start, end,
              source.path.c_str(), reason.value_or("").c_str());
    return -1;
  }
  if (parts->size() > 1) {
    g_warning("Samples %" PRId64 " to %" PRId64 " of %s cross from one link of the chained file "
              "into the next: the track is written as a chained Ogg file, which some players do "
              "not follow",
              start, end, source.path.c_str());
  }
  OggPageReader pages(fileno(source.fp.get()), span_bytes(index, *parts), request.progress, request.user_data);
  PageWriter writer(request.out);
  for (const OggCutPart& part : *parts) {
    const PartResult result = write_part(index.links[part.link], part, pages, writer, request.tags);
    if (result == PartResult::bad_comments) {
      g_warning("Cannot tag %.*s: the comment header of %s cannot be read", static_cast<int>(out_name.size()), out_name.data(),
                source.path.c_str());
      return -1;
    }
    if (result == PartResult::source_changed) {
      g_warning("Cannot cut %s: the file changed since it was read", source.path.c_str());
      return -1;
    }
    if (result == PartResult::write_failed) {
      g_warning("Could not write %.*s: %s", static_cast<int>(out_name.size()), out_name.data(), g_strerror(errno));
      return -1;
    }
  }
  if (!writer.flush()) {
    g_warning("Could not write %.*s: %s", static_cast<int>(out_name.size()), out_name.data(), g_strerror(errno));
    return -1;
  }
  return 0;
}
