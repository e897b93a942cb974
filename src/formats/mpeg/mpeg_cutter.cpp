#include "formats/mpeg/mpeg_cutter.h"

#include <sys/types.h>

#include <algorithm>
#include <cinttypes>
#include <limits>

#include "io/file_copy.h"
#include "formats/tags/id3_tag.h"
#include "formats/mpeg/mpeg_file.h"
#include "formats/mpeg/mpeg_gapless.h"

namespace {

constexpr std::uint64_t TO_THE_END = std::numeric_limits<std::uint64_t>::max();

// The frames [first, last) of the index that a cut copies.
struct FrameSpan {
  std::size_t first = 0;
  std::size_t last = 0;
  bool past_truncated = false;  // the range wants the incomplete frame at the end as well
};

// Offsets come from format_block_offset: whole frames of decoded PCM.
std::uint64_t to_sample(const SampleInfo& si, std::uint64_t offset) { return offset / si.blockAlign; }

// Samples are counted on the decoded timeline; the frames carry gapless_delay more at
// their head. A frame belongs to the cut that holds its first sample, so each cut starts
// with the first frame at or after its first sample, and a boundary inside a frame leaves
// that frame to the earlier cut.
FrameSpan frames_for(const MpegAudioFile& file, const MpegFrameIndex& index, std::uint64_t start,
                     std::uint64_t end) {
  const std::uint64_t first_sample = to_sample(file.si, start);
  const std::uint64_t end_sample = to_sample(file.si, end);
  // The head of the first track keeps the priming samples: there is nothing before them.
  const std::uint64_t raw_first = first_sample == 0 ? 0 : first_sample + file.gapless_delay;
  const std::uint64_t raw_end = end_sample == 0 ? TO_THE_END : end_sample + file.gapless_delay;
  const std::uint64_t per_frame = index.samples_per_frame;
  const std::uint64_t count = index.frames.size();

  FrameSpan span;
  span.first = static_cast<std::size_t>(std::min(count, (raw_first + per_frame - 1) / per_frame));
  const std::uint64_t wanted_last =
      raw_end == TO_THE_END ? TO_THE_END : (raw_end + per_frame - 1) / per_frame;
  span.past_truncated = index.truncated_frame.has_value() && wanted_last > count;
  span.last = static_cast<std::size_t>(std::min(count, std::max<std::uint64_t>(wanted_last, span.first + 1)));
  return span;
}

void log_gaps(const MpegAudioFile& file, const MpegFrameIndex& index, const FrameSpan& span) {
  if (span.last == 0) return;
  const std::uint64_t last_header = index.frames[span.last - 1].offset;
  for (const MpegGap& gap : index.gaps) {
    if (gap.offset >= last_header) break;
    file.gap_report.tell(file.path, gap.offset, gap.bytes);
  }
}

// Frames that follow each other in the file are copied as one run. false after a warning.
bool copy_frames(const MpegAudioFile& file, const MpegFrameIndex& index, const FrameSpan& span,
                 const TrackRequest& request, std::uint64_t total) {
  CopyProgress progress{request.progress, request.user_data, 0, total};
  return mpeg_frame_runs(index.frames, span.first, span.last, [&](const MpegFrameRun& run) {
    const CopyResult copy = copy_bytes(fileno(file.fp.get()), run.offset, run.bytes, request.out, progress);
    if (!copy_succeeded(copy, file.path, request.path)) return false;
    if (copy.copied != run.bytes) {
      g_warning("Tried to read over the end of the input file");
      return false;
    }
    progress.done_before += run.bytes;
    return true;
  });
}

std::uint64_t span_bytes(const MpegFrameIndex& index, const FrameSpan& span) {
  std::uint64_t bytes = 0;
  auto frame = index.frames.at(span.first);
  for (std::size_t i = span.first; i < span.last; ++i, ++frame) bytes += (*frame).bytes;
  return bytes;
}

// Decoders read the delay and padding of an Info frame for layer III only: other layers are
// cut by whole frames, after one warning per file.
bool writes_gapless(MpegAudioFile& file, const MpegFrameIndex& index, const TrackRequest& request) {
  if (!request.gapless) return false;
  if (mpeg_cuts_gapless(index, request)) return true;
  if (!file.gapless_refused) {
    g_warning("Gapless tracks need MPEG layer III; %s is cut at frame boundaries", file.path.c_str());
    file.gapless_refused = true;
  }
  return false;
}

// True, after a warning, when the stream cannot be cut at all.
bool refuse_uncuttable(const MpegAudioFile& file, const MpegFrameIndex& index) {
  if (index.free_format) {
    g_warning("Cannot cut %s: free-format MPEG streams do not state their frame lengths",
              file.path.c_str());
    return true;
  }
  if (index.frames.empty()) {
    g_warning("Cannot cut %s: no MPEG audio frames found", file.path.c_str());
    return true;
  }
  return false;
}

// The frames of the file, indexed by the first call and kept for the following ones; nullptr
// after a warning when they cannot be read or cut (free format, no frames at all).
const MpegFrameIndex* cuttable_index(MpegAudioFile& file) {
  if (!file.index) {
    std::string reason;
    file.index = mpeg_index_frames(file.fp.get(), static_cast<std::uint64_t>(file.file_size), reason);
    if (!file.index) {
      g_warning("Could not read the frames of %s: %s", file.path.c_str(), reason.c_str());
      return nullptr;
    }
  }
  return refuse_uncuttable(file, *file.index) ? nullptr : &*file.index;
}

int write_frames(MpegAudioFile& file, const MpegFrameIndex& index, const TrackRequest& request) {
  const FrameSpan span = frames_for(file, index, request.start, request.end);
  progress_report(request.progress, request.user_data, 0.0);
  if (request.tags != nullptr && !id3v2_write_tag(request.out, *request.tags, request.path)) return -1;
  log_gaps(file, index, span);
  if (!copy_frames(file, index, span, request, std::max<std::uint64_t>(1, span_bytes(index, span)))) return -1;
  if (!format_flush_track(request)) return -1;
  if (span.past_truncated) g_warning("Tried to read over the end of the input file");
  progress_report(request.progress, request.user_data, 1.0);
  return 0;
}

}  // namespace

MpegCutFrames mpeg_cut_frames(const MpegAudioFile& file, const MpegFrameIndex& index, std::uint64_t start,
                              std::uint64_t end) {
  const FrameSpan span = frames_for(file, index, start, end);
  return {span.first, span.last};
}

bool mpeg_cuts_gapless(const MpegFrameIndex& index, const TrackRequest& request) {
  return request.gapless && index.layer == 3;
}

int mpeg_write_range(AudioFile& base, const TrackRequest& request) {
  auto& file = static_cast<MpegAudioFile&>(base);
  const MpegFrameIndex* index = cuttable_index(file);
  if (index == nullptr) return -1;
  if (!writes_gapless(file, *index, request)) return write_frames(file, *index, request);
  // The ID3v2 tag comes first: decoders look for the Info frame right behind it.
  if (request.tags != nullptr && !id3v2_write_tag(request.out, *request.tags, request.path)) return -1;
  return mpeg_write_gapless(file, *index, request);
}
