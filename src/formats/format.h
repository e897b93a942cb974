// The format layer: the audio format record, the opened-file handle, the module descriptor
// and the helpers that modules share. It knows no module: registry.h does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <glib.h>

#include "formats/track_tags.h"
#include "io/file.h"
#include "io/progress.h"

// A reason text handed back to the caller; std::nullopt means "no text".
using ErrorText = std::optional<std::string>;

struct SampleInfo {
  std::uint32_t channels = 0;
  std::uint32_t samplesPerSec = 0;
  std::uint32_t avgBytesPerSec = 0;
  std::uint32_t blockAlign = 0;
  std::uint32_t bitsPerSample = 0;
  std::uint64_t numBytes = 0;
  // Nominal bytes of one block of 1/75 second (avgBytesPerSec / 75). Not a position: block b
  // starts at format_block_offset(b, si).
  std::uint64_t bufferSize = 0;
};


struct FormatModule;

// The handle of one opened audio file. Modules derive their own record from it.
struct AudioFile {
  const FormatModule* module = nullptr;
  std::string path;
  FilePtr fp;
  SampleInfo si;
  std::optional<std::string> details;
  std::int64_t file_size = 0;
  // True when si.numBytes is the exact count of PCM bytes that reading to the end yields,
  // as the container states it (sizes, frame counts, granule positions): the length is
  // then known without decoding. False when only a full read can tell.
  bool exact_length = false;

  AudioFile() = default;
  AudioFile(const AudioFile&) = delete;
  AudioFile& operator=(const AudioFile&) = delete;
  virtual ~AudioFile() = default;
};
using AudioFilePtr = std::unique_ptr<AudioFile>;


// One track for a module to write: where it goes, which range, how to report.
struct TrackRequest {
  std::FILE* out = nullptr;     // open and empty, created exclusively by the caller, who closes it;
                                // the module writes through it and flushes, never reopens by path
  std::string_view path;        // the final path the user asked for: every message names it
  std::uint64_t start = 0;      // PCM byte range [start, end) of the decoded timeline; end 0: to the end
  std::uint64_t end = 0;
  int track_number = 0;         // 1-based number of the track in the break list (0: unknown)
  WriteProgressFunc progress = nullptr;
  void* user_data = nullptr;
  const TrackTags* tags = nullptr;  // written into the track where the format carries tags
  bool gapless = false;         // a track gapless players decode to exactly the range
  bool frame_copy = false;      // the source's frames copied, only the partial ones at the ends
                                // encoded anew (modules with copies_frames; others ignore it)
};

// What a module found in a file it was offered. NotThisFormat: the file is for another module
// (reason, when given, is a note for the debug log). Unsupported: the file is in this
// module's container, but in a form it does not read (another module may still read it);
// reason says what, and is the answer when no module opens the file. Damaged: the file is
// this module's format but cannot be read; reason names the file and says why, for the user.
// Opened: file is complete and reason is empty.
struct OpenResult {
  enum class Kind { NotThisFormat, Unsupported, Damaged, Opened };
  Kind kind = Kind::NotThisFormat;
  AudioFilePtr file;
  std::string reason;

  static OpenResult not_this_format(ErrorText reason);
  static OpenResult unsupported(std::string reason);
  static OpenResult damaged(std::string reason);
  static OpenResult opened(AudioFilePtr file);
};

// A track of a cue sheet that an audio file carries as a metadata block, where it is given
// in sample frames.
struct EmbeddedSheetTrack {
  std::uint32_t number = 0;
  std::uint64_t start = 0;  // sample frame of its INDEX 01 (of its first index when it has none)
  bool audio = true;
  std::string isrc;
};

// The cue sheet an audio file carries, as a ripper embeds it: the text of a CUESHEET comment,
// or else the tracks of a CUESHEET metadata block (lead-out left out) at rate Hz.
struct EmbeddedSheet {
  std::string text;
  std::vector<EmbeddedSheetTrack> tracks;
  std::uint32_t rate = 0;
};

// What reading a written track back and comparing it with its range of the source found.
struct TrackCheck {
  bool matches = false;
  // When it does not match: the first sample frame of the track that departs from the range
  // (a track that ends early departs where it ends), or, for a track that cannot be read back
  // or fails a check of its own, nullopt with the reason in reason.
  std::optional<std::uint64_t> first_difference;
  std::string reason;

  static TrackCheck match() { return {.matches = true, .first_difference = std::nullopt, .reason = {}}; }
  static TrackCheck differs_at(std::uint64_t sample) { return {.matches = false, .first_difference = sample, .reason = {}}; }
  static TrackCheck failed(std::string reason) { return {.matches = false, .first_difference = std::nullopt, .reason = std::move(reason)}; }
};

struct FormatModule {
  const char* name;
  const char* library;
  const char* extension;
  // The three-way answer for path. Logs no refusal: the registry reports a damaged file.
  OpenResult (*open_file)(const FormatModule& module, const std::string& path);
  void (*close_file)(const FormatModule& module, AudioFilePtr file);
  // PCM bytes placed in buffer from PCM byte offset; fewer only at the end, 0 exactly at
  // the end. -1 beyond the end is an answer, not a failure: readers that step past the end
  // learn it so, and no warning comes with it. -1 for a position within the audio that cannot
  // be reached or decoded comes with a warning naming the file (given once for a damage that
  // later reads meet again). A playback may call it while a split runs write_range on the
  // same file: neither may use a read position the other moves (read by position, or keep
  // decoder state apart).
  std::int64_t (*read_data)(AudioFile& file, std::span<std::uint8_t> buffer, std::uint64_t offset);
  // Writes the range of request as a file of the module's format into request.out.
  // -1 on failure, with a warning naming request.path and the reason; anything else is success.
  // A request that starts past the end of the audio breaks the caller's side (tracks start at
  // breaks, which lie within the length): a module may refuse it with -1 and no warning.
  int (*write_range)(AudioFile& file, const TrackRequest& request);
  // Whether write_range writes request.tags into the track.
  bool carries_tags = false;
  // How many write_range calls may run at once on one opened file, each from its own thread
  // (the split writer uses at most one a processor). 1: one at a time, on one thread.
  unsigned concurrent_writes = 1;
  // Whether write_range honours request.frame_copy.
  bool copies_frames = false;
  // The cue sheet the file carries, nullopt when it carries none; nullptr for a format that
  // cannot carry one.
  std::optional<EmbeddedSheet> (*embedded_sheet)(AudioFile& file) = nullptr;
  // Reads the track that write_range wrote for request back through this module's reader,
  // from track_path (a name that need not end in the module's extension), and compares it
  // with the request's range of source: a reader of the source of its own, which no other
  // thread uses meanwhile. Warnings about a damaged track name request.path.
  TrackCheck (*verify_track)(AudioFile& source, const TrackRequest& request, const std::string& track_path) = nullptr;
};

void format_print_info(const AudioFile& file);

// The two-way form of an OpenResult, for callers that ask one module alone: the file, or
// nullptr with the reason (when there is one) in *error. Such a caller cannot tell a damaged
// file from another format, so the reason of a damaged one is also given here as a warning.
AudioFilePtr format_take_file(OpenResult result, ErrorText* error);

// Fills module, path, fp and file_size. 1 on success, 0 with a reason.
int format_open_common(const FormatModule& module, AudioFile& file, const std::string& path,
                       ErrorText* error);
void format_close_common(AudioFile& file);
// Flushes a module's output: a stream that cannot be flushed was not written. false after a
// warning naming request.path and the reason.
bool format_flush_track(const TrackRequest& request);
// 1 when path ends with extension (ASCII case-insensitive); null extension: the module's own.
int format_has_extension(const FormatModule& module, std::string_view path,
                         const char* extension = nullptr);

// Replaces the text in *error; does nothing when error is null.
void set_error_message(ErrorText* error, const char* format, ...) G_GNUC_PRINTF(2, 3);

// The first sample frame of block `block` (1/75 second): floor(block * rate / 75). Every
// position a break list gives is turned into samples here, in every format and every layer.
constexpr std::uint64_t format_block_sample(std::uint64_t block, std::uint32_t rate) {
  // Split so that block * rate cannot overflow for any block a 64-bit sample count reaches.
  return block / 75 * rate + block % 75 * rate / 75;
}

// The block that holds sample frame `sample`: the last block b with format_block_sample(b, rate)
// <= sample. Turns a PCM position back into blocks (playback's position). rate 0 gives 0.
constexpr std::uint64_t format_sample_block(std::uint64_t sample, std::uint32_t rate) {
  if (rate == 0) return 0;
  // floor((75 * sample + 74) / rate), split like format_block_sample so that it cannot overflow.
  return sample / rate * 75 + (sample % rate * 75 + 74) / rate;
}

// The length in blocks of `frames` sample frames, as the analysis reports it and a break list
// is bounded by: the whole blocks, plus one for the partial block at the end (also when there
// is none). At a rate that is a multiple of 75 this is frames / (rate / 75) + 1.
constexpr std::uint64_t format_block_count(std::uint64_t frames, std::uint32_t rate) {
  return format_sample_block(frames, rate) + 1;
}

// The PCM byte offset of block `block`: its first sample frame times the frame size. The
// offsets handed to write_range and read_data for a position in blocks come from here.
constexpr std::uint64_t format_block_offset(std::uint64_t block, const SampleInfo& si) {
  return format_block_sample(block, si.samplesPerSec) * si.blockAlign;
}

// The SampleInfo of PCM as a decoder hands it out: `frames` sample frames of `channels`
// samples of bits_per_sample bits (a multiple of 8) each, at `rate` Hz. The MPEG, Ogg and FLAC
// modules describe their decoded audio with it.
SampleInfo format_sample_info(std::uint32_t rate, std::uint32_t channels, std::uint32_t bits_per_sample,
                              std::uint64_t frames);

// 1 when the format can be measured in blocks and frames (no zero divisor anywhere) and is
// one a recording may have (at most 255 channels, 1536 kHz, 8 bytes a sample), otherwise 0
// with a reason. Every layer that counts blocks relies on this check.
int format_check_block_layout(const SampleInfo& si, ErrorText* error);
