#include "formats/mpeg/mpeg_gapless.h"

#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <optional>
#include <string>
#include <vector>

#include "formats/mpeg/mpeg_file.h"
#include "formats/mpeg/mpeg_frame.h"
#include "formats/mpeg/mpeg_info_tag.h"
#include "io/byte_order.h"
#include "io/read_at.h"

namespace {

// A decoder that starts on a frame other than the stream's first gets that frame's first
// granule wrong (its overlap half comes from a granule it never saw), and the synthesis filter
// reaches 15 slots of 32 samples back: its output is exact from here on.
constexpr std::int64_t SETTLED_AFTER = 576 + 15 * 32;
constexpr std::size_t COPY_BYTES = 1 << 20;
// No reservoir pointer reaches further back than this (9 bits in MPEG-1, 8 in MPEG-2 and 2.5).
constexpr std::uint32_t RESERVOIR_REACH = 512;
constexpr std::uint8_t LOWEST_BITRATE_INDEX = 1;
constexpr std::uint8_t HIGHEST_BITRATE_INDEX = 14;

using HeaderBytes = std::array<std::uint8_t, 4>;

// Reads the source by position, leaving its stream where it was.
class SourceReader {
 public:
  explicit SourceReader(const MpegAudioFile& file) : fd_(fileno(file.fp.get())), path_(file.path) {}

  // false after a warning when the bytes are not all there.
  bool read(std::uint64_t offset, std::span<std::uint8_t> bytes) const {
    const std::int64_t got = read_at(fd_, bytes, offset);
    if (got == static_cast<std::int64_t>(bytes.size())) return true;
    g_warning("Error reading %s: %s", path_.c_str(), got < 0 ? g_strerror(errno) : "unexpected end of file");
    return false;
  }

  // The header of an indexed frame, read from bytes; nullopt after a warning when they hold
  // none: the file is no longer what was indexed.
  std::optional<MpegFrameHeader> header(const MpegFrame& frame, std::span<const std::uint8_t> bytes) const {
    auto parsed = mpeg_parse_frame_header(bytes);
    if (!parsed) g_warning("No MPEG frame header at byte %" PRIu64 " of %s", frame.offset, path_.c_str());
    return parsed;
  }

  std::optional<std::vector<std::uint8_t>> frame(const MpegFrame& frame) const {
    std::vector<std::uint8_t> bytes(frame.bytes);
    if (!read(frame.offset, bytes)) return std::nullopt;
    return bytes;
  }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  const std::string& path_;
};

HeaderBytes with_bitrate(HeaderBytes header, std::uint8_t bitrate_index) {
  // The padding bit goes too: the frames written here need no extra byte.
  header[2] = static_cast<std::uint8_t>(bitrate_index << 4 | (header[2] & 0x0D));
  return header;
}

std::uint32_t frame_bytes(const HeaderBytes& header) {
  const auto parsed = mpeg_parse_frame_header(header);
  return parsed ? parsed->frame_bytes : 0;
}

// header at the given bit rate if its frame holds at least bytes, else at the lowest rate
// whose frame does; nullopt when none is large enough.
std::optional<HeaderBytes> header_holding(const HeaderBytes& header, std::uint8_t preferred, std::size_t bytes) {
  if (frame_bytes(with_bitrate(header, preferred)) >= bytes) return with_bitrate(header, preferred);
  for (std::uint8_t index = LOWEST_BITRATE_INDEX; index <= HIGHEST_BITRATE_INDEX; ++index) {
    if (frame_bytes(with_bitrate(header, index)) >= bytes) return with_bitrate(header, index);
  }
  return std::nullopt;
}

// A frame whose side information is all zero: it decodes to silence and leaves the decoder
// as a fresh one, while its main data area, which no granule uses, ends with reservoir for
// the frames after it.
std::optional<std::vector<std::uint8_t>> silent_frame(const HeaderBytes& like, std::span<const std::uint8_t> reservoir) {
  const auto parsed = mpeg_parse_frame_header(like);
  if (!parsed) return std::nullopt;
  const auto header = header_holding(like, like[2] >> 4, mpeg_main_data_start(*parsed) + reservoir.size());
  if (!header) return std::nullopt;
  std::vector<std::uint8_t> frame(frame_bytes(*header), 0);
  std::ranges::copy(*header, frame.begin());
  std::ranges::copy(reservoir, frame.end() - static_cast<std::ptrdiff_t>(reservoir.size()));
  if (parsed->protection) {
    write_be(frame.data() + 4, mpeg_frame_crc(frame, *parsed), 2);
  }
  return frame;
}

// The first bytes of a frame, as far as its reservoir pointer; nullopt after a warning.
std::optional<std::array<std::uint8_t, 8>> frame_start(const SourceReader& source, const MpegFrame& frame) {
  std::array<std::uint8_t, 8> bytes{};
  if (frame.bytes < bytes.size()) {
    g_warning("MPEG frame at byte %" PRIu64 " of %s is too short to cut: %" PRIu64 " bytes", frame.offset,
              source.path().c_str(), std::uint64_t{frame.bytes});
    return std::nullopt;
  }
  if (!source.read(frame.offset, bytes)) return std::nullopt;
  return bytes;
}

// How many bytes of main data before the first copied frame the copied frames use: each
// frame's pointer less the areas of the copied frames before it.
std::optional<std::uint32_t> reservoir_need(const SourceReader& source, const MpegFrameIndex& index,
                                            const MpegGaplessPlan& plan) {
  std::uint32_t need = 0;
  std::uint64_t areas = 0;
  for (std::uint64_t i = plan.first_frame; i < plan.first_frame + plan.copied && areas < RESERVOIR_REACH; ++i) {
    const auto start = frame_start(source, index.frames[i]);
    if (!start) return std::nullopt;
    const auto header = source.header(index.frames[i], *start);
    if (!header) return std::nullopt;
    const std::uint64_t pointer = mpeg_main_data_begin(*header, *start);
    if (pointer > areas) need = std::max(need, static_cast<std::uint32_t>(pointer - areas));
    areas += index.frames[i].bytes - std::min<std::uint64_t>(index.frames[i].bytes, mpeg_main_data_start(*header));
  }
  return need;
}

// The last need bytes of the main data areas of the frames before first, zeros in front where
// the stream has fewer.
std::optional<std::vector<std::uint8_t>> reservoir_bytes(const SourceReader& source, const MpegFrameIndex& index,
                                                         std::uint64_t first, std::uint32_t need) {
  std::vector<std::uint8_t> bytes(need, 0);
  std::size_t missing = need;
  for (std::uint64_t i = first; i > 0 && missing > 0; --i) {
    const auto frame = source.frame(index.frames[i - 1]);
    if (!frame) return std::nullopt;
    const auto header = source.header(index.frames[i - 1], *frame);
    if (!header) return std::nullopt;
    const std::size_t area_start = std::min<std::size_t>(frame->size(), mpeg_main_data_start(*header));
    const std::size_t take = std::min(missing, frame->size() - area_start);
    std::copy(frame->end() - static_cast<std::ptrdiff_t>(take), frame->end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(missing - take));
    missing -= take;
  }
  return bytes;
}

// Everything the track holds besides the copied frames.
struct TrackFrames {
  std::vector<std::uint8_t> info_placeholder;  // the Info frame's size; its bytes come last
  HeaderBytes info_header{};
  std::vector<std::uint8_t> reservoir;
  std::vector<std::uint8_t> silent;  // repeated silent_tail times
};

std::optional<TrackFrames> track_frames(const SourceReader& source, const MpegFrameIndex& index,
                                        const MpegGaplessPlan& plan) {
  // The first copied frame sets version, rate, mode and (where it fits) the bit rate.
  const bool any_copied = plan.copied > 0;
  const MpegFrame& model = index.frames[any_copied ? plan.first_frame : index.frames.size() - 1];
  const auto start = frame_start(source, model);
  if (!start) return std::nullopt;
  const HeaderBytes header{(*start)[0], (*start)[1], (*start)[2], (*start)[3]};

  const auto need = reservoir_need(source, index, plan);
  if (!need) return std::nullopt;
  const auto carried = reservoir_bytes(source, index, plan.first_frame, *need);
  if (!carried) return std::nullopt;

  TrackFrames frames;
  auto reservoir = silent_frame(header, *carried);
  auto silent = silent_frame(header, {});
  HeaderBytes unprotected = header;
  unprotected[1] |= 1;
  const auto info = header_holding(unprotected, header[2] >> 4, mpeg_info_frame_min_bytes(unprotected));
  if (!reservoir || !silent || !info) {
    g_warning("No frame of the stream's kind can hold the reservoir of %s", source.path().c_str());
    return std::nullopt;
  }
  frames.reservoir = std::move(*reservoir);
  frames.silent = std::move(*silent);
  frames.info_header = *info;
  frames.info_placeholder.assign(frame_bytes(*info), 0);
  return frames;
}

// Writes the track through its stream and keeps the music's CRC and the progress.
class TrackWriter {
 public:
  TrackWriter(std::FILE* out, std::string_view path, std::uint64_t total, WriteProgressFunc progress,
              void* user_data)
      : out_(out), path_(path), total_(std::max<std::uint64_t>(1, total)), progress_(progress),
        user_data_(user_data) {}

  bool write(std::span<const std::uint8_t> bytes, bool music = true) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) return fail();
    if (music) crc_ = mpeg_lame_crc(bytes, crc_);
    written_ += bytes.size();
    progress_report(progress_, user_data_, static_cast<double>(written_) / static_cast<double>(total_));
    return true;
  }

  bool copy(const SourceReader& source, std::uint64_t offset, std::uint64_t bytes) {
    buffer_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, COPY_BYTES)));
    while (bytes > 0) {
      const auto piece = std::span(buffer_).first(static_cast<std::size_t>(std::min<std::uint64_t>(bytes, COPY_BYTES)));
      if (!source.read(offset, piece) || !write(piece)) return false;
      offset += piece.size();
      bytes -= piece.size();
    }
    return true;
  }

  // Where the next byte goes; nullopt after a warning.
  std::optional<off_t> position() {
    const off_t at = ftello(out_);
    if (at >= 0) return at;
    fail();
    return std::nullopt;
  }

  // Puts the Info frame over its placeholder at the start and leaves the stream flushed.
  bool finish(std::span<const std::uint8_t> info, off_t info_at) {
    if (fseeko(out_, info_at, SEEK_SET) != 0) return fail();
    if (std::fwrite(info.data(), 1, info.size(), out_) != info.size()) return fail();
    if (fseeko(out_, 0, SEEK_END) != 0 || std::fflush(out_) != 0) return fail();
    return true;
  }

  std::uint16_t music_crc() const { return crc_; }

 private:
  bool fail() {
    g_warning("Error writing to file %.*s: %s", static_cast<int>(path_.size()), path_.data(), g_strerror(errno));
    return false;
  }

  std::FILE* out_;
  std::string_view path_;
  std::uint64_t total_;
  WriteProgressFunc progress_;
  void* user_data_;
  std::uint16_t crc_ = 0;
  std::uint64_t written_ = 0;
  std::vector<std::uint8_t> buffer_;
};

// The byte sizes of the track's frames after the Info frame, in order.
std::vector<std::uint64_t> frame_sizes(const MpegFrameIndex& index, const MpegGaplessPlan& plan,
                                       const TrackFrames& frames) {
  std::vector<std::uint64_t> sizes;
  sizes.reserve(1 + plan.copied + plan.silent_tail);
  sizes.push_back(frames.reservoir.size());
  auto frame = index.frames.at(plan.first_frame);
  for (std::uint64_t i = 0; i < plan.copied; ++i, ++frame) sizes.push_back((*frame).bytes);
  sizes.insert(sizes.end(), plan.silent_tail, frames.silent.size());
  return sizes;
}

// Where in the file (in 1/256 of its size) each percent of the playing time starts.
std::array<std::uint8_t, 100> table_of_contents(const std::vector<std::uint64_t>& sizes, std::uint64_t info_bytes,
                                                std::uint64_t total) {
  std::array<std::uint8_t, 100> toc{};
  std::uint64_t position = info_bytes;
  std::size_t frame = 0;
  for (std::size_t percent = 0; percent < toc.size(); ++percent) {
    const std::size_t wanted = percent * sizes.size() / toc.size();
    for (; frame < wanted; ++frame) position += sizes[frame];
    toc[percent] = static_cast<std::uint8_t>(std::min<std::uint64_t>(255, position * 256 / total));
  }
  return toc;
}

bool constant_bitrate(const MpegFrameIndex& index, const MpegGaplessPlan& plan) {
  if (plan.copied == 0) return true;
  auto frame = index.frames.at(plan.first_frame);
  const std::uint16_t rate = (*frame).bitrate_kbps;
  for (std::uint64_t i = 0; i < plan.copied; ++i, ++frame) {
    if ((*frame).bitrate_kbps != rate) return false;
  }
  return true;
}

// The source's own LAME extension describes how the audio was encoded; a track keeps that, and
// its encoder name where decoders look for "LAME" before they honour the delay.
MpegInfoTag tag_from_source(const SourceReader& source, const MpegFrameIndex& index) {
  MpegInfoTag tag;
  tag.encoder = "LAME";
  if (!index.info_frame) return tag;
  const auto frame = source.frame(*index.info_frame);
  const auto parsed = frame ? mpeg_info_tag_parse(*frame) : std::nullopt;
  if (!parsed || !parsed->lame || !parsed->encoder.starts_with("LAME")) return tag;
  tag.quality = parsed->quality;
  tag.encoder = parsed->encoder;
  tag.revision_and_method = parsed->revision_and_method;
  tag.lowpass = parsed->lowpass;
  tag.encoding_flags = parsed->encoding_flags;
  tag.bitrate = parsed->bitrate;
  tag.misc = parsed->misc;
  tag.preset = parsed->preset;
  return tag;
}

MpegInfoTag track_tag(const SourceReader& source, const MpegFrameIndex& index, const MpegGaplessPlan& plan,
                      const std::vector<std::uint64_t>& sizes, std::uint64_t info_bytes) {
  MpegInfoTag tag = tag_from_source(source, index);
  tag.lame = true;
  tag.constant_bitrate = constant_bitrate(index, plan);
  if (!index.info_frame && plan.copied > 0) {
    // Nothing to keep: the tag says what the frames show.
    tag.revision_and_method = tag.constant_bitrate ? 1 : 0;
    if (tag.constant_bitrate) {
      tag.bitrate = static_cast<std::uint8_t>(std::min(255, int{index.frames[plan.first_frame].bitrate_kbps}));
    }
  }
  std::uint64_t total = info_bytes;
  for (const std::uint64_t size : sizes) total += size;
  tag.frames = static_cast<std::uint32_t>(sizes.size());
  tag.bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, UINT32_MAX));
  tag.music_length = tag.bytes;
  tag.toc = table_of_contents(sizes, info_bytes, total);
  tag.delay = static_cast<std::uint16_t>(plan.delay);
  tag.padding = static_cast<std::uint16_t>(plan.padding);
  return tag;
}

bool copy_source_frames(TrackWriter& writer, const MpegAudioFile& file, const SourceReader& source,
                        const MpegFrameIndex& index, const MpegGaplessPlan& plan) {
  const auto first = static_cast<std::size_t>(plan.first_frame);
  const auto last = static_cast<std::size_t>(plan.first_frame + plan.copied);
  return mpeg_frame_runs(index.frames, first, last, [&](const MpegFrameRun& run) {
    if (run.gap_after > 0) file.gap_report.tell(file.path, run.offset + run.bytes, run.gap_after);
    return writer.copy(source, run.offset, run.bytes);
  });
}

}  // namespace

MpegGaplessPlan mpeg_gapless_plan(std::uint64_t first, std::uint64_t end, std::uint64_t source_delay,
                                  std::uint32_t samples_per_frame, std::uint64_t frames) {
  const auto per_frame = static_cast<std::int64_t>(samples_per_frame);
  const auto length = static_cast<std::int64_t>(end - std::min(first, end));
  // The output sample of the source's frames where the track starts. The track's frames
  // begin with the reservoir frame, standing in for the frame before the first copied one.
  const auto raw_first = static_cast<std::int64_t>(first + source_delay);
  std::int64_t first_frame = 0;
  if (raw_first >= per_frame + SETTLED_AFTER) first_frame = (raw_first - per_frame - SETTLED_AFTER) / per_frame + 1;
  first_frame = std::min(first_frame, static_cast<std::int64_t>(frames));
  // A silent frame leaves the decoder as a fresh one, so the stream's first frame needs no
  // settling: the start may lie anywhere after the reservoir frame.
  const std::int64_t skip = raw_first - (first_frame - 1) * per_frame;
  const std::int64_t after_reservoir = (skip + length + per_frame - 1) / per_frame - 1;

  MpegGaplessPlan plan;
  plan.first_frame = static_cast<std::uint64_t>(first_frame);
  plan.copied = static_cast<std::uint64_t>(std::min(after_reservoir, static_cast<std::int64_t>(frames) - first_frame));
  plan.silent_tail = static_cast<std::uint64_t>(after_reservoir) - plan.copied;
  plan.delay = static_cast<std::uint32_t>(skip - MPEG_DECODER_DELAY);
  plan.padding = static_cast<std::uint32_t>((after_reservoir + 1) * per_frame - skip - length + MPEG_DECODER_DELAY);
  return plan;
}

int mpeg_write_gapless(const MpegAudioFile& file, const MpegFrameIndex& index, const TrackRequest& request) {
  const std::uint64_t total = file.si.numBytes / file.si.blockAlign;
  // Offsets come from format_block_offset: whole sample frames of decoded PCM.
  const std::uint64_t first = std::min(total, request.start / file.si.blockAlign);
  const std::uint64_t last = request.end == 0 ? total : std::clamp(request.end / file.si.blockAlign, first, total);
  const MpegGaplessPlan plan =
      mpeg_gapless_plan(first, last, file.gapless_delay, index.samples_per_frame, index.frames.size());

  const SourceReader source(file);
  const auto frames = track_frames(source, index, plan);
  if (!frames) return -1;
  const std::vector<std::uint64_t> sizes = frame_sizes(index, plan, *frames);
  const std::uint64_t info_bytes = frames->info_placeholder.size();
  std::uint64_t track_bytes = info_bytes;
  for (const std::uint64_t size : sizes) track_bytes += size;

  progress_report(request.progress, request.user_data, 0.0);
  TrackWriter writer(request.out, request.path, track_bytes, request.progress, request.user_data);
  const std::optional<off_t> info_at = writer.position();
  if (!info_at || !writer.write(frames->info_placeholder, false) || !writer.write(frames->reservoir)) return -1;
  if (!copy_source_frames(writer, file, source, index, plan)) return -1;
  for (std::uint64_t k = 0; k < plan.silent_tail; ++k) {
    if (!writer.write(frames->silent)) return -1;
  }
  MpegInfoTag tag = track_tag(source, index, plan, sizes, info_bytes);
  tag.music_crc = writer.music_crc();
  const std::vector<std::uint8_t> info = mpeg_info_frame(frames->info_header, tag);
  if (!writer.finish(info, *info_at)) return -1;
  progress_report(request.progress, request.user_data, 1.0);
  return 0;
}
