#include "formats/wav/wav.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <limits>
#include <vector>

#include "formats/track_check.h"
#include "formats/wav/wav_info.h"
#include "io/byte_order.h"
#include "io/file_copy.h"
#include "io/read_at.h"

namespace {

// The most of a format chunk that is read: the extensible layout; the rest is skipped.
constexpr std::size_t FMT_READ_LIMIT = 40;
// ds64 with a table of this many chunk sizes at most; the rest of the chunk is skipped.
constexpr std::size_t DS64_READ_LIMIT = 28 + 12 * 64;

const char* tr(const char* text) { return g_dgettext("trackfold", text); }

struct ChunkHeader {
  char id[5] = {};
  std::uint32_t size = 0;  // as the header states it
};

// The walk through the chunks of one file, with what RF64 tells about their sizes.
class ChunkWalk {
 public:
  ChunkWalk(WavAudioFile& file, ErrorText* error, bool rf64)
      : file_(file), fp_(file.fp.get()), error_(error), rf64_(rf64) {}

  bool is_rf64() const { return rf64_; }
  bool has_ds64() const { return has_ds64_; }

  bool next(ChunkHeader& chunk) {
    std::uint8_t raw[8];
    if (std::fread(raw, 1, sizeof raw, fp_) != sizeof raw) {
      set_error_message(error_, "%s",
                        tr("Error reading chunk. Maybe the wave file you are trying to load is truncated?"));
      return false;
    }
    std::memcpy(chunk.id, raw, 4);
    chunk.size = read_le32(raw + 4);
    return true;
  }

  // The chunk's real size: in RF64, a 32-bit size of all ones is looked up in ds64.
  std::uint64_t size_of(const ChunkHeader& chunk) const {
    if (!rf64_ || !has_ds64_ || chunk.size != RIFF_SIZE_UNKNOWN) return chunk.size;
    if (std::strcmp(chunk.id, "data") == 0) return ds64_.dataSize;
    for (const auto& [id, size] : ds64_.table) {
      if (id == chunk.id) return size;
    }
    return chunk.size;
  }

  // Skips what is left of the chunk after `consumed` bytes of it, and its pad byte: RIFF
  // chunks start on even offsets, so an odd-sized chunk is followed by one byte more.
  bool skip_rest(const ChunkHeader& chunk, std::uint64_t consumed) {
    const std::uint64_t size = size_of(chunk);
    const std::uint64_t rest = size - consumed;
    // Sizes are unsigned: the walk only ever moves forward, so it always ends (at the latest
    // with a failed read past the end of the file).
    if (rest > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
      errno = EOVERFLOW;
    } else if (fseeko(fp_, static_cast<off_t>(rest), SEEK_CUR) == 0 && ((size & 1) == 0 || skip_pad_byte())) {
      return true;
    }
    set_error_message(error_, tr("Error seeking to %u in %s: %s"), chunk.size, file_.path.c_str(),
                      g_strerror(errno));
    return false;
  }

  // Reads up to limit bytes of the chunk's contents; nullopt when the file ends first.
  std::optional<std::vector<std::uint8_t>> read_contents(const ChunkHeader& chunk, std::size_t limit) {
    std::vector<std::uint8_t> contents(static_cast<std::size_t>(std::min<std::uint64_t>(size_of(chunk), limit)));
    if (std::fread(contents.data(), 1, contents.size(), fp_) != contents.size()) return std::nullopt;
    return contents;
  }

  bool read_ds64(const ChunkHeader& chunk) {
    const std::optional<std::vector<std::uint8_t>> contents = read_contents(chunk, DS64_READ_LIMIT);
    std::optional<WavDs64> parsed = contents ? wav_parse_ds64(*contents) : std::nullopt;
    if (!parsed) {
      set_error_message(error_, "%s", tr("Error reading ds64 chunk of RF64 file."));
      return false;
    }
    ds64_ = std::move(*parsed);
    has_ds64_ = true;
    return skip_rest(chunk, contents->size());
  }

 private:
  // The pad byte is zero. Some writers leave it out, and then the byte there already starts
  // the next chunk's id, which is never zero: it stays to be read as such.
  bool skip_pad_byte() {
    const int pad = std::fgetc(fp_);
    return pad == 0 || pad == EOF || fseeko(fp_, -1, SEEK_CUR) == 0;
  }

  WavAudioFile& file_;
  std::FILE* fp_;
  ErrorText* error_;
  bool rf64_;
  // Not an optional: GCC takes the sizes in one for possibly uninitialised when optimising.
  bool has_ds64_ = false;
  WavDs64 ds64_;
};

// A format chunk that cannot be read or describes no integer PCM sets unsupported: the file
// is a wave file for certain, and the reason tells the user more than an unknown format.
bool read_format_chunk(ChunkWalk& walk, const ChunkHeader& chunk, WavAudioFile& file, ErrorText* error,
                       bool& unsupported) {
  std::FILE* fp = file.fp.get();
  const std::optional<std::vector<std::uint8_t>> raw = walk.read_contents(chunk, FMT_READ_LIMIT);
  const std::optional<WavFormat> format = raw ? wav_parse_fmt(*raw) : std::nullopt;
  if (!format) {
    // At the end of the file errno tells nothing; say what happened instead.
    const char* cause = !raw ? (std::ferror(fp) ? g_strerror(errno) : "unexpected end of file")
                             : "the chunk is shorter than 16 bytes";
    set_error_message(error, tr("Error reading format chunk: %s"), cause);
    unsupported = true;
    return false;
  }
  if (!wav_format_is_pcm(*format)) {
    set_error_message(error, "%s",
                      wav_format_code(*format) == WAVE_FORMAT_IEEE_FLOAT ? tr("IEEE float WAV is not supported")
                                                                        : tr("Loading compressed wave data is not supported."));
    unsupported = true;
    return false;
  }
  file.si = format->si;
  file.extensible = format->extensible;
  return walk.skip_rest(chunk, raw->size());
}

// Walks the chunks up to the data chunk, reading ds64 and the format chunk on the way.
bool walk_to_data(ChunkWalk& walk, WavAudioFile& file, ChunkHeader& data, ErrorText* error,
                  bool& unsupported) {
  bool have_format = false;
  for (;;) {
    ChunkHeader chunk;
    if (!walk.next(chunk)) return false;
    if (walk.is_rf64() && !walk.has_ds64() && std::strcmp(chunk.id, "ds64") == 0) {
      if (!walk.read_ds64(chunk)) return false;
    } else if (!have_format && std::strcmp(chunk.id, "fmt ") == 0) {
      if (!read_format_chunk(walk, chunk, file, error, unsupported)) return false;
      have_format = true;
    } else if (have_format && std::strcmp(chunk.id, "data") == 0) {
      data = chunk;
      return true;
    } else {
      g_warning("Chunk %s is not a Format Chunk", chunk.id);
      if (!walk.skip_rest(chunk, 0)) return false;
    }
  }
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

// The data runs for its declared size as long as the bytes behind its header hold it; what
// follows it (LIST, id3 ...) is never audio. All ones in a RIFF file is the size that a
// recording too long for 32 bits is left with: its data runs to the end of the file.
void settle_data_size(const ChunkWalk& walk, const ChunkHeader& data, WavAudioFile& file) {
  file.data_offset = ftello(file.fp.get());
  const std::uint64_t declared = walk.size_of(data);
  // A ds64 chunk states every size, 0xFFFFFFFF included.
  const bool too_large_to_say = declared == RIFF_SIZE_UNKNOWN && !(walk.is_rf64() && walk.has_ds64());
  const auto file_size = static_cast<std::uint64_t>(file.file_size);
  const auto offset = static_cast<std::uint64_t>(file.data_offset);
  const std::uint64_t available = file_size > offset ? file_size - offset : 0;
  file.data_size = declared;
  if (file_size != 0 && declared > available) {
    g_warning("Real file size is %" PRIu64 ", but wave header says it should be %" PRIu64
              ". Using real file size instead.",
              file_size, saturating_add(offset, declared));
    file.data_size = available;
  } else if (file_size != 0 && too_large_to_say) {
    file.data_size = available;
  }
  file.declared_size = too_large_to_say ? file.data_size : declared;
  file.si.numBytes = file.data_size;
  // Without a file size (a pipe) nothing tells whether the declared size holds.
  file.exact_length = file_size != 0;
}

// Reads the 12-byte file header; rf64 tells whether the sizes are in a ds64 chunk.
bool read_riff_header(WavAudioFile& file, bool& rf64, ErrorText* error) {
  std::uint8_t raw[12];
  if (std::fread(raw, 1, sizeof raw, file.fp.get()) != sizeof raw) {
    set_error_message(error, "%s", tr("Cannot read wave header."));
    return false;
  }
  rf64 = std::memcmp(raw, "RF64", 4) == 0 || std::memcmp(raw, "BW64", 4) == 0;
  if ((std::memcmp(raw, "RIFF", 4) != 0 && !rf64) || std::memcmp(raw + 8, "WAVE", 4) != 0) {
    set_error_message(error, tr("%s is not a wave file."), file.path.c_str());
    return false;
  }
  return true;
}

// "Could not write WAV header to PATH", with the system's reason when the stream has one.
void warn_header_failure(std::FILE* out, const std::string& out_path) {
  if (std::ferror(out)) {
    g_warning("Could not write WAV header to %s: %s", out_path.c_str(), g_strerror(errno));
  } else {
    g_warning("Could not write WAV header to %s", out_path.c_str());
  }
}

// The source ended early (truncated while we read it): the header must not promise more (the
// copy has given back the space set aside for the rest). It keeps its layout (an RF64 header
// stays RF64), so the samples behind it stay where they are.
bool fix_header_length(std::FILE* out, WavHeader header, std::uint64_t copied,
                       std::uint64_t trailer_length, const std::string& out_path) {
  g_warning("Source data ended early: %s holds %" PRIu64 " data bytes", out_path.c_str(), copied);
  header.data_length = copied;
  header.trailer_length = trailer_length;
  if (fseeko(out, 0, SEEK_SET) != 0 || wav_write_header(out, header) != 0) {
    warn_header_failure(out, out_path);
    return false;
  }
  return true;
}

// The tags behind the data: the header counts them, so they follow the samples directly.
bool write_trailer(std::FILE* out, const std::string& trailer, const std::string& out_path) {
  if (trailer.empty()) return true;
  if (fseeko(out, 0, SEEK_END) == 0 && std::fwrite(trailer.data(), 1, trailer.size(), out) == trailer.size()) {
    return true;
  }
  g_warning("Could not write the tags of %s: %s", out_path.c_str(), g_strerror(errno));
  return false;
}

// The data bytes of the source that a track holds: [start, start + length) of the data chunk.
struct DataRange {
  std::uint64_t start = 0;
  std::uint64_t length = 0;
};

// Writes the header, the data bytes of range and the tags of request (when given) into
// request.out, which is open and empty. 0, or -1 after a warning naming request.path or the
// source and the reason; request.out is the caller's to close.
int write_track(WavAudioFile& file, const TrackRequest& request, DataRange range) {
  const std::string out_path(request.path);
  const TrackTags* tags = request.tags;
  std::string trailer = tags != nullptr ? wav_info_trailer(*tags, range.length) : std::string();
  const WavHeader header = wav_plan_header(file.si, file.extensible, range.length, trailer.size());
  if (wav_write_header(request.out, header) != 0) {
    warn_header_failure(request.out, out_path);
    return -1;
  }
  progress_report(request.progress, request.user_data, 0.0);
  const CopyResult copy = copy_bytes(fileno(file.fp.get()), file.data_offset + range.start, range.length,
                                     request.out, {request.progress, request.user_data, 0, range.length});
  // A read that failed is no end of the source: the track would pass for complete.
  if (!copy_succeeded(copy, file.path, out_path)) return -1;
  if (copy.copied != range.length) {
    // The pad byte depends on the length the data really has.
    if (tags != nullptr) trailer = wav_info_trailer(*tags, copy.copied);
    if (!fix_header_length(request.out, header, copy.copied, trailer.size(), out_path)) return -1;
  }
  return write_trailer(request.out, trailer, out_path) ? 0 : -1;
}

}  // namespace

namespace {

OpenResult open_wav(const FormatModule& module, const std::string& path) {
  auto file = std::make_unique<WavAudioFile>();
  ErrorText reason;
  if (!format_open_common(module, *file, path, &reason)) return OpenResult::not_this_format(reason);
  bool rf64 = false;
  ChunkHeader data;
  if (!read_riff_header(*file, rf64, &reason)) return OpenResult::not_this_format(reason);
  ChunkWalk walk(*file, &reason, rf64);
  bool unsupported = false;
  if (!walk_to_data(walk, *file, data, &reason, unsupported)) {
    return unsupported ? OpenResult::unsupported(reason.value_or("")) : OpenResult::not_this_format(reason);
  }
  settle_data_size(walk, data, *file);
  return OpenResult::opened(std::move(file));
}

TrackCheck verify_wav(AudioFile& source, const TrackRequest& request, const std::string& track_path) {
  return format_verify_decoded(source, request, open_wav(*source.module, track_path));
}

}  // namespace

const FormatModule* wav_module() {
  static const FormatModule module = {.name = "RIFF WAVE",
                                      .library = "built-in",
                                      .extension = ".wav",
                                      .open_file = open_wav,
                                      .close_file = wav_close_file,
                                      .read_data = wav_read_data,
                                      .write_range = wav_write_range,
                                      .carries_tags = true,
                                      .concurrent_writes = 1,
                                      .verify_track = verify_wav};
  return &module;
}

AudioFilePtr wav_open_file(const FormatModule& module, const std::string& path, ErrorText* error) {
  return format_take_file(open_wav(module, path), error);
}

void wav_close_file(const FormatModule& /*module*/, AudioFilePtr file) {
  if (file) format_close_common(*file);
}

std::int64_t wav_read_data(AudioFile& base, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  auto& file = static_cast<WavAudioFile&>(base);
  if (offset > file.data_size) return -1;
  const std::uint64_t wanted = std::min<std::uint64_t>(buffer.size(), file.data_size - offset);
  const std::int64_t got = read_at(fileno(file.fp.get()), buffer.first(static_cast<std::size_t>(wanted)),
                                   static_cast<std::uint64_t>(file.data_offset) + offset);
  if (got < 0) {
    g_warning("Error reading %s: %s at byte %" PRIu64 "; reading stops there", file.path.c_str(), g_strerror(errno),
              static_cast<std::uint64_t>(file.data_offset) + offset);
  }
  return got;
}

int wav_write_range(AudioFile& base, const TrackRequest& request) {
  auto& file = static_cast<WavAudioFile&>(base);
  const std::uint64_t start = request.start;
  if (start > file.data_size) return -1;
  // A break at the block count ends past the data; whatever follows the data chunk
  // (LIST, id3 ...) is not audio and must never reach a track.
  const std::uint64_t stop = (request.end == 0 || request.end > file.data_size) ? file.data_size : request.end;
  const std::uint64_t length = stop > start ? stop - start : 0;
  if (write_track(file, request, {start, length}) != 0) return -1;
  if (!format_flush_track(request)) return -1;
  progress_report(request.progress, request.user_data, 1.0);
  return 0;
}

int wav_write_header(std::FILE* fp, const SampleInfo& si, std::uint64_t data_length) {
  return wav_write_header(fp, wav_plan_header(si, std::nullopt, data_length));
}

int wav_read_header(const std::string& path, SampleInfo& si) {
  ErrorText error;
  AudioFilePtr file = wav_open_file(*wav_module(), path, &error);
  if (!file) {
    g_warning("Could not read WAV header of %s: %s", path.c_str(), error.value_or("").c_str());
    return 1;
  }
  si = file->si;
  wav_close_file(*wav_module(), std::move(file));
  return 0;
}
