#include "formats/wav.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "formats/output_file.h"

namespace {

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
constexpr std::uint32_t EXTENSIBLE_FMT_SIZE = 40;
// The sub-format GUID of extensible PCM without its leading 16-bit format code.
constexpr std::array<std::uint8_t, 14> KSDATAFORMAT_SUBTYPE_TAIL = {
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Copies are done in large pieces; the block size is the unit of positions, not of I/O.
constexpr std::size_t COPY_BUFFER_SIZE = 1 << 20;
// Kernel copies go in pieces small enough for a progress figure that moves.
constexpr std::uint64_t KERNEL_COPY_PIECE = std::uint64_t{16} << 20;

const char* tr(const char* text) { return g_dgettext("trackfold", text); }

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void put16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

struct ChunkHeader {
  char id[5] = {};
  std::uint32_t size = 0;
};

bool read_chunk_header(std::FILE* fp, ChunkHeader& chunk) {
  std::uint8_t raw[8];
  if (std::fread(raw, 1, sizeof raw, fp) != sizeof raw) return false;
  std::memcpy(chunk.id, raw, 4);
  chunk.size = le32(raw + 4);
  return true;
}

bool skip_bytes(std::FILE* fp, std::uint64_t count) {
  // Chunk sizes are unsigned: a size of 2^31 or more moves forward, never back, so the
  // walk always ends (at the latest with a failed read past the end of the file).
  return fseeko(fp, static_cast<off_t>(count), SEEK_CUR) == 0;
}

// The five fields of the format chunk that every reader relies on.
struct FmtFields {
  std::uint16_t formatTag = 0;
  SampleInfo si;
};

FmtFields parse_wav_fmt(std::span<const std::uint8_t, 16> raw) {
  FmtFields fmt;
  fmt.formatTag = le16(raw.data());
  fmt.si.channels = le16(raw.data() + 2);
  fmt.si.samplesPerSec = le32(raw.data() + 4);
  fmt.si.avgBytesPerSec = le32(raw.data() + 8);
  fmt.si.blockAlign = le16(raw.data() + 12);
  fmt.si.bitsPerSample = le16(raw.data() + 14);
  fmt.si.bufferSize = fmt.si.avgBytesPerSec / 75;
  return fmt;
}

// Reads the extension of a WAVE_FORMAT_EXTENSIBLE chunk; true when its sub-format is PCM.
// Consumes 24 bytes after the first 16 of the chunk.
bool extensible_is_pcm(std::FILE* fp, std::uint32_t fmt_size) {
  if (fmt_size < EXTENSIBLE_FMT_SIZE) return false;
  std::uint8_t ext[24];
  if (std::fread(ext, 1, sizeof ext, fp) != sizeof ext) return false;
  const std::uint8_t* guid = ext + 8;
  return le16(guid) == WAVE_FORMAT_PCM &&
         std::memcmp(guid + 2, KSDATAFORMAT_SUBTYPE_TAIL.data(), KSDATAFORMAT_SUBTYPE_TAIL.size()) == 0;
}

// Walks chunks until one with the wanted id; its header is left in chunk.
bool seek_chunk(WavAudioFile& file, const char* wanted, ChunkHeader& chunk, ErrorText* error) {
  std::FILE* fp = file.fp.get();
  const char* truncated =
      tr("Error reading chunk. Maybe the wave file you are trying to load is truncated?");
  if (!read_chunk_header(fp, chunk)) {
    set_error_message(error, "%s", truncated);
    return false;
  }
  while (std::strcmp(chunk.id, wanted) != 0) {
    g_warning("Chunk %s is not a Format Chunk", chunk.id);
    if (!skip_bytes(fp, chunk.size)) {
      set_error_message(error, tr("Error seeking to %u in %s: %s"), chunk.size, file.path.c_str(),
                        g_strerror(errno));
      return false;
    }
    if (!read_chunk_header(fp, chunk)) {
      set_error_message(error, "%s", truncated);
      return false;
    }
  }
  return true;
}

bool read_format_chunk(WavAudioFile& file, ErrorText* error) {
  std::FILE* fp = file.fp.get();
  ChunkHeader chunk;
  if (!seek_chunk(file, "fmt ", chunk, error)) return false;
  std::array<std::uint8_t, 16> raw{};
  if (std::fread(raw.data(), 1, raw.size(), fp) != raw.size()) {
    // At the end of the file errno tells nothing; say what happened instead.
    const char* cause = std::ferror(fp) ? g_strerror(errno) : "unexpected end of file";
    set_error_message(error, tr("Error reading format chunk: %s"), cause);
    return false;
  }
  const FmtFields fmt = parse_wav_fmt(raw);
  std::uint64_t consumed = raw.size();
  bool pcm = fmt.formatTag == WAVE_FORMAT_PCM;
  if (fmt.formatTag == WAVE_FORMAT_EXTENSIBLE) {
    pcm = extensible_is_pcm(fp, chunk.size);
    consumed = EXTENSIBLE_FMT_SIZE;
  }
  if (!pcm) {
    set_error_message(error, "%s", tr("Loading compressed wave data is not supported."));
    return false;
  }
  file.si = fmt.si;
  if (chunk.size > consumed && !skip_bytes(fp, chunk.size - consumed)) {
    set_error_message(error, tr("Error seeking to %u in %s: %s"), chunk.size, file.path.c_str(),
                      g_strerror(errno));
    return false;
  }
  return true;
}

bool read_data_chunk(WavAudioFile& file, ErrorText* error) {
  ChunkHeader chunk;
  if (!seek_chunk(file, "data", chunk, error)) return false;
  file.data_offset = ftello(file.fp.get());
  // The declared size is a signed 32-bit number compared unsigned: 2^31 and more is larger
  // than any file, so a 4 GiB+ recording with 0xFFFFFFFF runs to the end of the file.
  const auto declared = static_cast<std::int32_t>(chunk.size);
  const auto file_size = static_cast<std::uint64_t>(file.file_size);
  if (file_size != 0 && file_size < static_cast<std::uint64_t>(static_cast<std::int64_t>(declared))) {
    g_warning("Real file size is %" PRIu64
              ", but wave header says it should be %d. Using real file size instead.",
              file_size, declared);
    file.data_size = file_size - static_cast<std::uint64_t>(file.data_offset);
  } else {
    file.data_size = chunk.size;
  }
  file.si.numBytes = file.data_size;
  return true;
}

bool read_riff_header(WavAudioFile& file, ErrorText* error) {
  std::uint8_t raw[12];
  if (std::fread(raw, 1, sizeof raw, file.fp.get()) != sizeof raw) {
    set_error_message(error, "%s", tr("Cannot read wave header."));
    return false;
  }
  if (std::memcmp(raw, "RIFF", 4) != 0 && std::memcmp(raw + 8, "WAVE", 4) != 0) {
    set_error_message(error, tr("%s is not a wave file."), file.path.c_str());
    return false;
  }
  return true;
}

// The source ended early (truncated while we read it): the header must not promise more.
bool fix_header_length(std::FILE* out, const SampleInfo& si, std::uint64_t copied,
                       const std::string& out_path) {
  g_warning("Source data ended early: %s holds %" PRIu64 " data bytes", out_path.c_str(), copied);
  if (fseeko(out, 0, SEEK_SET) != 0 || wav_write_header(out, si, copied) != 0) {
    g_message("Could not write WAV header to %s", out_path.c_str());
    return false;
  }
  return true;
}

void report(WriteProgressFunc progress, void* user_data, double fraction) {
  if (progress != nullptr) progress(user_data, fraction);
}

// Lets the kernel move the data bytes from in_offset of the source to the end of out, as cp
// does, sparing two copies through user space. Returns the bytes moved: fewer than length at
// the end of the source or wherever the kernel declines (the buffered copy then carries on
// and meets any real error itself), -1 when out cannot be flushed or put behind the copy.
std::int64_t copy_in_kernel(const WavAudioFile& file, std::FILE* out, std::uint64_t in_offset,
                            std::uint64_t length, WriteProgressFunc progress, void* user_data) {
  if (std::fflush(out) != 0) return -1;
  auto in_pos = static_cast<off_t>(in_offset);
  off_t out_pos = ftello(out);
  if (out_pos < 0) return 0;
  std::uint64_t copied = 0;
  while (copied < length) {
    const auto wanted = static_cast<std::size_t>(std::min(KERNEL_COPY_PIECE, length - copied));
    const ssize_t moved = copy_file_range(fileno(file.fp.get()), &in_pos, fileno(out), &out_pos, wanted, 0);
    if (moved <= 0) break;
    copied += static_cast<std::uint64_t>(moved);
    report(progress, user_data, static_cast<double>(copied) / static_cast<double>(length));
  }
  if (fseeko(out, out_pos, SEEK_SET) != 0) return -1;
  return static_cast<std::int64_t>(copied);
}

}  // namespace

const FormatModule* wav_module() {
  static const FormatModule module = {"RIFF WAVE",       "built-in",     ".wav",
                                      wav_open_file,     wav_close_file, wav_read_data,
                                      wav_write_range};
  return &module;
}

AudioFilePtr wav_open_file(const FormatModule& module, const std::string& path, ErrorText* error) {
  auto file = std::make_unique<WavAudioFile>();
  if (!format_open_common(module, *file, path, error)) return nullptr;
  file->data_size = static_cast<std::uint64_t>(file->file_size);
  if (!read_riff_header(*file, error) || !read_format_chunk(*file, error) ||
      !read_data_chunk(*file, error)) {
    format_close_common(*file);
    return nullptr;
  }
  return file;
}

void wav_close_file(const FormatModule& /*module*/, AudioFilePtr file) {
  if (file) format_close_common(*file);
}

std::int64_t wav_read_data(AudioFile& base, std::span<std::uint8_t> buffer, std::uint64_t offset) {
  auto& file = static_cast<WavAudioFile&>(base);
  if (offset > file.data_size) return -1;
  if (fseeko(file.fp.get(), static_cast<off_t>(file.data_offset + offset), SEEK_SET) != 0) return -1;
  const std::uint64_t wanted = std::min<std::uint64_t>(buffer.size(), file.data_size - offset);
  return static_cast<std::int64_t>(std::fread(buffer.data(), 1, wanted, file.fp.get()));
}

int wav_write_range(AudioFile& base, const std::string& out_path, std::uint64_t start,
                    std::uint64_t end, WriteProgressFunc progress, void* user_data) {
  auto& file = static_cast<WavAudioFile&>(base);
  if (start > file.data_size) return -1;
  // A break at the block count ends past the data; whatever follows the data chunk
  // (LIST, id3 ...) is not audio and must never reach a track.
  const std::uint64_t stop = (end == 0 || end > file.data_size) ? file.data_size : end;
  const std::uint64_t length = stop > start ? stop - start : 0;

  OutputFile out(out_path);
  if (!out.is_open()) {
    g_warning("Error opening %s for writing", out_path.c_str());
    return -1;
  }
  if (wav_write_header(out.get(), file.si, length) != 0) {
    g_message("Could not write WAV header to %s", out_path.c_str());
    return -1;
  }
  report(progress, user_data, 0.0);
  const std::int64_t kernel_copied =
      copy_in_kernel(file, out.get(), file.data_offset + start, length, progress, user_data);
  if (kernel_copied < 0) {
    g_message("Error writing to file %s", out_path.c_str());
    return -1;
  }
  std::uint64_t copied = static_cast<std::uint64_t>(kernel_copied);
  if (fseeko(file.fp.get(), static_cast<off_t>(file.data_offset + start + copied), SEEK_SET) != 0) {
    g_message("Could not seek to read position in %s", file.path.c_str());
    return -1;
  }

  // A header may claim any rate: the piece stays 1 MiB whatever one block holds.
  const std::size_t piece = COPY_BUFFER_SIZE;
  std::vector<std::uint8_t> buffer(copied < length ? piece : 0);
  while (copied < length) {
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(piece, length - copied));
    const std::size_t got = std::fread(buffer.data(), 1, wanted, file.fp.get());
    if (got == 0) break;
    if (std::fwrite(buffer.data(), 1, got, out.get()) != got) {
      g_message("Error writing to file %s", out_path.c_str());
      return -1;
    }
    copied += got;
    report(progress, user_data, static_cast<double>(copied) / static_cast<double>(length));
  }
  // A read that failed is no end of the source: the track would pass for complete.
  if (std::ferror(file.fp.get())) {
    g_message("Error reading %s: %s", file.path.c_str(), g_strerror(errno));
    return -1;
  }
  if (copied != length && !fix_header_length(out.get(), file.si, copied, out_path)) return -1;
  if (!out.close_and_keep()) {
    g_message("Error writing to file %s", out_path.c_str());
    return -1;
  }
  report(progress, user_data, 1.0);
  return 0;
}

int wav_write_header(std::FILE* fp, const SampleInfo& si, std::uint64_t data_length) {
  if (data_length > WAV_MAX_DATA_LENGTH) {
    std::printf("data length %" PRIu64 " does not fit a WAV header (at most %" PRIu64 " bytes)\n",
                data_length, WAV_MAX_DATA_LENGTH);
    return 1;
  }
  const auto length = static_cast<std::uint32_t>(data_length);
  std::uint8_t riff[12], fmt_header[8], fmt[16], data[8];
  std::memcpy(riff, "RIFF", 4);
  put32(riff + 4, length + 36);
  std::memcpy(riff + 8, "WAVE", 4);
  std::memcpy(fmt_header, "fmt ", 4);
  put32(fmt_header + 4, 16);
  put16(fmt, WAVE_FORMAT_PCM);
  put16(fmt + 2, si.channels);
  put32(fmt + 4, si.samplesPerSec);
  put32(fmt + 8, si.avgBytesPerSec);
  put16(fmt + 12, si.blockAlign);
  put16(fmt + 14, si.bitsPerSample);
  std::memcpy(data, "data", 4);
  put32(data + 4, length);

  const struct {
    const std::uint8_t* bytes;
    std::size_t size;
    const char* failure;
  } pieces[] = {{riff, sizeof riff, "error writing wave header"},
                {fmt_header, sizeof fmt_header, "error writing fmt chunk header"},
                {fmt, sizeof fmt, "error writing format chunk"},
                {data, sizeof data, "error writing data chunk header"}};
  for (const auto& p : pieces) {
    if (std::fwrite(p.bytes, 1, p.size, fp) != p.size) {
      std::printf("%s\n", p.failure);
      return 1;
    }
  }
  return 0;
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
