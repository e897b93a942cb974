#include "formats/ogg/ogg_index.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <system_error>
#include <thread>
#include <utility>

#include <glib.h>
#include <vorbis/codec.h>

#include "formats/ogg/ogg_page_reader.h"
#include "io/read_at.h"

namespace {

constexpr long READ_BYTES = 256 << 10;
// Far beyond any recording; keeps the granule arithmetic below clear of overflow.
constexpr std::int64_t GRANULE_LIMIT = std::int64_t{1} << 62;

class OggSync {
 public:
  OggSync() { ogg_sync_init(&state_); }
  OggSync(const OggSync&) = delete;
  OggSync& operator=(const OggSync&) = delete;
  ~OggSync() { ogg_sync_clear(&state_); }

  ogg_sync_state* get() { return &state_; }
  bool holds_unread_bytes() const { return state_.fill > state_.returned; }
  // libogg tells nothing of fewer bytes than a page header: whether what it holds at the end of
  // the file starts as a page does.
  bool unread_bytes_could_begin_a_page() const {
    const auto unread = static_cast<std::size_t>(state_.fill - state_.returned);
    return unread > 0 &&
           std::memcmp(state_.data + state_.returned, "OggS", std::min<std::size_t>(unread, 4)) == 0;
  }

 private:
  ogg_sync_state state_{};
};

bool is_vorbis_identification(const ogg_page& page) {
  ogg_packet probe{};
  probe.packet = page.body;
  probe.bytes = page.body_len;
  probe.b_o_s = 1;
  return vorbis_synthesis_idheader(&probe) == 1;
}

// A page's last lacing value of 255 leaves its last packet open for the next page. The
// header holds the count of lacing values at byte 26 and the values from byte 27 on.
bool leaves_packet_open(const ogg_page& page) {
  const int segments = page.header[26];
  return segments > 0 && page.header[27 + segments - 1] == 255;
}

struct LinkBuilder {
  explicit LinkBuilder(std::uint32_t serial) : stream(serial) { link.serial = serial; }

  OggLink link;
  OggStream stream;
  VorbisHeaders vorbis;
  std::uint64_t packets = 0;  // stream packets completed so far
  long previous_blocksize = -1;
  // libvorbis's own count of the granule position: -1 until a page has stated one.
  std::int64_t granule = -1;
  bool packet_open = false;  // the last page ended inside a packet
  // The packet left open began on a page the index has: its rest makes a packet of the index.
  bool open_packet_counted = false;
  bool ended = false;        // the end-of-stream packet has come
  std::optional<std::int64_t> next_sequence;  // of the stream's next page; none before the first
  std::uint64_t last_page_end = 0;
  // Since a gap, the packets wait for a granule position to place them: their ends count from
  // the first after the gap until then. granule_offset is the granule position less the raw
  // sample as they stood before the gap; unplaced_from, the first packet after it.
  bool placing = false;
  std::int64_t granule_offset = 0;
  std::size_t unplaced_from = 0;
};

void add_gap(OggLink& link, std::string reason) {
  const std::size_t packet = link.packet_ends.size();
  if (!link.gaps.empty() && link.gaps.back().packet == packet) return;
  link.gaps.push_back({packet, std::move(reason)});
}

// Packets after a gap that no granule position placed cannot be told apart from the lost
// ones: they all shrink to nothing at the end of the last packet before the first gap, and
// the link's end counts as lost.
void lose_unplaced(LinkBuilder& builder) {
  if (!builder.placing) return;
  std::vector<std::int64_t>& ends = builder.link.packet_ends;
  const auto from = static_cast<std::ptrdiff_t>(builder.unplaced_from);
  std::fill(ends.begin() + from, ends.end(), ends[builder.unplaced_from - 1]);
  builder.placing = false;
  add_gap(builder.link, builder.link.gaps.back().reason);
}

void lose_end(LinkBuilder& builder, std::string reason) {
  lose_unplaced(builder);
  add_gap(builder.link, std::move(reason));
}

// Places the packets since the last gap by the granule position of the page the latest one
// ends, as the stream stated positions before the gap. Packets between two gaps stay unplaced.
bool place_after_gap(LinkBuilder& builder, const ogg_packet& packet, std::uint64_t offset,
                     ErrorText* error) {
  if (packet.granulepos == -1) return true;
  if (packet.e_o_s != 0) {
    // The last position may trim the end by samples the lost packets would have told.
    lose_unplaced(builder);
    return true;
  }
  std::vector<std::int64_t>& ends = builder.link.packet_ends;
  const std::size_t gap = builder.link.gaps.back().packet;
  const std::int64_t shift = packet.granulepos - builder.granule_offset - ends.back();
  for (std::size_t k = gap; k < ends.size(); ++k) ends[k] += shift;
  std::fill(ends.begin() + static_cast<std::ptrdiff_t>(builder.unplaced_from),
            ends.begin() + static_cast<std::ptrdiff_t>(gap), ends[builder.unplaced_from - 1]);
  if (ends[gap] < ends[gap - 1]) {
    set_error_message(error,
                      "the granule position of the page at byte %" PRIu64 " contradicts the packets before it",
                      offset);
    return false;
  }
  builder.granule = packet.granulepos;
  builder.placing = false;
  return true;
}

// Follows libvorbis's bookkeeping of granule positions (vorbis_synthesis_blockin) packet by
// packet, to learn which samples the decoder trims. `samples` is what the packet decodes to.
void follow_granule(LinkBuilder& builder, std::int64_t samples, std::int64_t granule,
                    bool end_of_stream) {
  OggLink& link = builder.link;
  const std::int64_t decoded = link.packet_ends.back();
  if (builder.granule == -1) {
    if (granule == -1) return;
    builder.granule = granule;
    if (decoded <= granule) return;
    // A first position short of the samples decoded so far: the decoder can take the
    // difference only from the samples of this packet, the earlier ones being delivered.
    // On a stream's only page it cuts the end instead of the start.
    const std::int64_t extra = std::min(decoded - granule, samples);
    if (end_of_stream) {
      link.end_trim = extra;
    } else {
      link.dropped_at = decoded - samples;
      link.dropped = extra;
    }
    return;
  }
  builder.granule += samples;
  if (granule == -1 || granule == builder.granule) return;
  if (end_of_stream && builder.granule > granule) {
    link.end_trim = std::min(builder.granule - granule, samples);
  }
  builder.granule = granule;
}

class IndexBuilder {
 public:
  bool add_page(ogg_page& page, std::uint64_t offset, ErrorText* error) {
    const auto serial = static_cast<std::uint32_t>(ogg_page_serialno(&page));
    if (ogg_page_bos(&page)) {
      if (!is_vorbis_identification(page)) {
        other_streams_.insert(serial);
        return true;
      }
      // A link cut off by damage before its end: what its lost pages held is unknown.
      if (current_ && !current_->ended && current_->packets > VORBIS_HEADER_PACKETS && damage_at_ &&
          *damage_at_ >= current_->last_page_end) {
        lose_end(*current_, gap_reason(*current_, offset, current_->last_page_end));
      }
      if (!end_link(error)) return false;
      current_ = std::make_unique<LinkBuilder>(serial);
    }
    if (!current_ || serial != current_->link.serial) {
      if (other_streams_.count(serial) != 0) return true;
      set_error_message(error,
                        "a page of stream %08x at byte %" PRIu64 " comes without the stream's headers",
                        serial, offset);
      return false;
    }
    return add_link_page(*current_, page, offset, error);
  }

  // Whether the stream of the last page read has had its end-of-stream packet.
  bool last_stream_ended() const { return current_ && current_->ended; }

  // Bytes that are no page begin at offset, before the next page added.
  void note_damage(std::uint64_t offset) { damage_at_ = offset; }

  // The file ends inside the stream of the last page read, for `reason`: its end is lost.
  // false, with the reason in *error, when the stream holds no audio to keep.
  bool end_cut_short(const std::string& reason, ErrorText* error) {
    if (!current_ || current_->packets <= VORBIS_HEADER_PACKETS) {
      set_error_message(error, "%s", reason.c_str());
      return false;
    }
    lose_end(*current_, reason);
    return true;
  }

  // After the last page. The index, or std::nullopt with the reason.
  std::optional<OggPacketIndex> finish(ErrorText* error) {
    if (!end_link(error)) return std::nullopt;
    if (index_.links.empty()) {
      set_error_message(error, "%s", "no Vorbis audio found");
      return std::nullopt;
    }
    return std::move(index_);
  }

 private:
  bool add_link_page(LinkBuilder& builder, ogg_page& page, std::uint64_t offset,
                     ErrorText* error) {
    const bool in_sequence = follows_in_sequence(builder, page);
    const std::uint64_t previous_end = std::exchange(builder.last_page_end, offset + page_bytes(page));
    const bool continued = ogg_page_continued(&page) != 0;
    if (in_sequence && continued != builder.packet_open) {
      set_error_message(error,
                        "the page at byte %" PRIu64 " does not continue the packets before it",
                        offset);
      return false;
    }
    // libogg drops the rest of a packet whose start was lost; the index counts it no more.
    const bool carries_counted_packet = continued && in_sequence && builder.open_packet_counted;
    builder.packet_open = leaves_packet_open(page);
    if (builder.packet_open) {
      builder.open_packet_counted = !continued || ogg_page_packets(&page) > 0 || carries_counted_packet;
    }
    builder.link.pages.push_back(
        {offset, page_bytes(page), continued, builder.packets + (carries_counted_packet ? 1 : 0)});
    const std::int64_t granule = ogg_page_granulepos(&page);
    if (granule < -1 || granule > GRANULE_LIMIT) {
      set_error_message(error,
                        "the page at byte %" PRIu64 " states an impossible granule position",
                        offset);
      return false;
    }
    if (ogg_stream_pagein(builder.stream.get(), &page) != 0) {
      set_error_message(error, "the page at byte %" PRIu64 " cannot be read", offset);
      return false;
    }
    for (;;) {
      ogg_packet packet;
      const int got = ogg_stream_packetout(builder.stream.get(), &packet);
      if (got == 0) return true;
      if (got < 0) {
        if (!begin_gap(builder, offset, previous_end, error)) return false;
        continue;
      }
      if (!add_packet(builder, packet, offset, error)) return false;
    }
  }

  static std::uint32_t page_bytes(const ogg_page& page) {
    return static_cast<std::uint32_t>(page.header_len + page.body_len);
  }

  // Whether the page is the next of its stream; libogg sees a gap where it is not.
  static bool follows_in_sequence(LinkBuilder& builder, const ogg_page& page) {
    const std::int64_t sequence = ogg_page_pageno(&page);
    const bool in_sequence = !builder.next_sequence || sequence == *builder.next_sequence;
    builder.next_sequence = sequence + 1;
    return in_sequence;
  }

  // Pages of the link are lost before the one at `offset`; the link's last page before it
  // ended at previous_end. The packets go on, to be placed by the next granule position.
  bool begin_gap(LinkBuilder& builder, std::uint64_t offset, std::uint64_t previous_end,
                 ErrorText* error) {
    // Without headers nothing decodes; without a position stated before the gap nothing
    // tells where the packets after it stand.
    if (builder.packets < VORBIS_HEADER_PACKETS) {
      report_missing_headers(builder, offset, error);
      return false;
    }
    if (builder.granule == -1) {
      set_error_message(error, "%s", gap_reason(builder, offset, previous_end).c_str());
      return false;
    }
    std::vector<std::int64_t>& ends = builder.link.packet_ends;
    if (!builder.placing) {
      builder.placing = true;
      builder.unplaced_from = ends.size();
      builder.granule_offset = builder.granule - ends.back();
    }
    builder.previous_blocksize = -1;
    add_gap(builder.link, gap_reason(builder, offset, previous_end));
    return true;
  }

  std::string gap_reason(const LinkBuilder& builder, std::uint64_t offset,
                         std::uint64_t previous_end) const {
    ErrorText reason;
    if (damage_at_ && *damage_at_ >= previous_end) {
      set_error_message(&reason, "damaged page or foreign data at byte %" PRIu64, *damage_at_);
    } else {
      set_error_message(&reason, "a page of stream %08x is missing before byte %" PRIu64,
                        builder.link.serial, offset);
    }
    return *reason;
  }

  static void report_missing_headers(const LinkBuilder& builder, std::uint64_t offset, ErrorText* error) {
    set_error_message(error, "the Vorbis headers of stream %08x are missing before byte %" PRIu64,
                      builder.link.serial, offset);
  }

  bool add_packet(LinkBuilder& builder, ogg_packet& packet, std::uint64_t offset,
                  ErrorText* error) {
    if (builder.packets < VORBIS_HEADER_PACKETS) {
      if (!builder.vorbis.add(packet)) {
        set_error_message(error, "bad Vorbis header in the page at byte %" PRIu64, offset);
        return false;
      }
      builder.link.headers[builder.packets].assign(packet.packet, packet.packet + packet.bytes);
      ++builder.packets;
      return true;
    }
    if (builder.ended) {
      set_error_message(error, "stream %08x goes on after its end, at byte %" PRIu64,
                        builder.link.serial, offset);
      return false;
    }
    const long blocksize = builder.vorbis.blocksize(packet);
    if (blocksize < 0) {
      set_error_message(error,
                        "the page at byte %" PRIu64 " holds a packet that is no Vorbis audio",
                        offset);
      return false;
    }
    // The first audio packet only primes the overlap: it decodes to no sample.
    const std::int64_t samples =
        builder.previous_blocksize < 0 ? 0 : (builder.previous_blocksize + blocksize) / 4;
    builder.previous_blocksize = blocksize;
    std::vector<std::int64_t>& ends = builder.link.packet_ends;
    ends.push_back((ends.empty() ? 0 : ends.back()) + samples);
    if (builder.placing) {
      if (!place_after_gap(builder, packet, offset, error)) return false;
    } else {
      follow_granule(builder, samples, packet.granulepos, packet.e_o_s != 0);
    }
    builder.ended = packet.e_o_s != 0;
    ++builder.packets;
    return true;
  }

  bool end_link(ErrorText* error) {
    if (!current_) return true;
    const std::unique_ptr<LinkBuilder> builder = std::move(current_);
    if (builder->packets < VORBIS_HEADER_PACKETS) {
      set_error_message(error, "stream %08x ends before its Vorbis headers do",
                        builder->link.serial);
      return false;
    }
    // A stream without audio adds nothing to the decoded timeline.
    if (builder->link.packet_ends.empty()) return true;
    lose_unplaced(*builder);
    builder->link.decoded_start = index_.decoded_length;
    index_.decoded_length += builder->link.decoded_length();
    index_.links.push_back(std::move(builder->link));
    return true;
  }

  OggPacketIndex index_;
  std::unique_ptr<LinkBuilder> current_;
  std::set<std::uint32_t> other_streams_;  // streams of other codecs, passed over
  std::optional<std::uint64_t> damage_at_;  // the latest bytes that were no page
};

// A page found sound by the checking pass: where it is and how long.
struct PageSpan {
  std::uint64_t offset = 0;
  std::uint32_t bytes = 0;
  std::optional<std::uint64_t> damage_before;  // where bytes that are no page, right before it, begin
};

// What the checking pass hands over: pages in file order, then its end.
struct CheckedPages {
  std::vector<PageSpan> pages;
  bool finished = false;  // nothing follows these
  ErrorText failure;      // when finished: why the file could not be read to its end
  // When finished: where bytes that are no page begin, with no page after them. A tag some
  // programs append is no audio once the last stream has ended; before that, the stream's
  // end is lost.
  std::optional<std::uint64_t> trailing_bytes_at;
  bool trailing_page_cut_short = false;  // those bytes begin as a page does: the file ends inside it
};

// Carries the checked pages from the checking thread to the indexing one, a read's worth at a
// time. The checking stays a few reads ahead at most, so the memory held stays the same
// whatever the file's length.
class PageQueue {
 public:
  // false once the indexing side has given up: the checking should stop.
  bool push(CheckedPages batch) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return batches_.size() < MAX_BATCHES || abandoned_; });
    if (abandoned_) return false;
    batches_.push_back(std::move(batch));
    ready_.notify_one();
    return true;
  }

  CheckedPages pop() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !batches_.empty(); });
    CheckedPages batch = std::move(batches_.front());
    batches_.pop_front();
    room_.notify_one();
    return batch;
  }

  void abandon() {
    const std::lock_guard lock(mutex_);
    abandoned_ = true;
    room_.notify_all();
  }

 private:
  static constexpr std::size_t MAX_BATCHES = 4;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::condition_variable room_;
  std::deque<CheckedPages> batches_;
  bool abandoned_ = false;
};

// Gives up the queue when the indexing returns, so that the checking thread never waits for
// room that will not come.
class AbandonOnExit {
 public:
  explicit AbandonOnExit(PageQueue& queue) : queue_(queue) {}
  AbandonOnExit(const AbandonOnExit&) = delete;
  AbandonOnExit& operator=(const AbandonOnExit&) = delete;
  ~AbandonOnExit() { queue_.abandon(); }

 private:
  PageQueue& queue_;
};

// The checking pass: libogg finds the pages and checks every one's CRC. It runs beside the
// indexing, which is as costly, so that the two take the time of one.
void check_pages(int fd, PageQueue& queue) {
  OggSync sync;
  CheckedPages batch;
  std::uint64_t offset = 0;   // of the next page
  std::uint64_t read_to = 0;  // of the next byte to read
  std::optional<std::uint64_t> skipped_at;  // the first bytes that were no page since the last page
  for (;;) {
    ogg_page page;
    const long got = ogg_sync_pageseek(sync.get(), &page);
    if (got < 0) {
      if (!skipped_at) skipped_at = offset;
      offset += static_cast<std::uint64_t>(-got);
      continue;
    }
    if (got > 0) {
      batch.pages.push_back({offset, static_cast<std::uint32_t>(got), std::exchange(skipped_at, std::nullopt)});
      offset += static_cast<std::uint64_t>(got);
      continue;
    }
    if (!batch.pages.empty() && !queue.push(std::exchange(batch, {}))) return;
    char* buffer = ogg_sync_buffer(sync.get(), READ_BYTES);
    const std::int64_t read = read_at(
        fd, std::span(reinterpret_cast<std::uint8_t*>(buffer), READ_BYTES), read_to);
    if (read < 0) {
      set_error_message(&batch.failure, "read error: %s", g_strerror(errno));
      break;
    }
    if (read == 0) {
      if (!skipped_at && sync.holds_unread_bytes()) {
        skipped_at = offset;
        batch.trailing_page_cut_short = sync.unread_bytes_could_begin_a_page();
      }
      batch.trailing_bytes_at = skipped_at;
      break;
    }
    read_to += static_cast<std::uint64_t>(read);
    ogg_sync_wrote(sync.get(), static_cast<long>(read));
  }
  batch.finished = true;
  queue.push(std::move(batch));
}

// Why the stream before the trailing bytes of a finished pass lost its end.
std::string trailing_reason(const CheckedPages& end) {
  ErrorText reason;
  if (end.trailing_page_cut_short) {
    set_error_message(&reason, "the last page, at byte %" PRIu64 ", is cut short", *end.trailing_bytes_at);
  } else {
    set_error_message(&reason, "damaged page or foreign data at byte %" PRIu64, *end.trailing_bytes_at);
  }
  return *reason;
}

}  // namespace

std::optional<OggPacketIndex> ogg_index_packets(int fd, ErrorText* error) {
  PageQueue queue;
  std::jthread checking;
  try {
    checking = std::jthread(check_pages, fd, std::ref(queue));
  } catch (const std::system_error& failure) {
    set_error_message(error, "cannot start a thread: %s", failure.what());
    return std::nullopt;
  }
  const AbandonOnExit abandon(queue);
  OggPageReader pages(fd);
  IndexBuilder builder;
  for (;;) {
    const CheckedPages batch = queue.pop();
    for (const PageSpan& span : batch.pages) {
      ogg_page page;
      if (!pages.read(span.offset, span.bytes, page)) {
        set_error_message(error, "the page at byte %" PRIu64 " changed while the file was read",
                          span.offset);
        return std::nullopt;
      }
      if (span.damage_before) builder.note_damage(*span.damage_before);
      if (!builder.add_page(page, span.offset, error)) return std::nullopt;
    }
    if (!batch.finished) continue;
    if (batch.failure) {
      set_error_message(error, "%s", batch.failure->c_str());
      return std::nullopt;
    }
    if (batch.trailing_bytes_at && !builder.last_stream_ended() &&
        !builder.end_cut_short(trailing_reason(batch), error)) {
      return std::nullopt;
    }
    return builder.finish(error);
  }
}

const OggLinkGap* ogg_index_lost_end(const OggPacketIndex& index) {
  if (index.links.empty() || index.links.back().gaps.empty()) return nullptr;
  const OggLink& link = index.links.back();
  return link.gaps.back().packet == link.packet_ends.size() ? &link.gaps.back() : nullptr;
}
