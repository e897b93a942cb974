#include "formats/wav/wav_header.h"

#include <algorithm>

#include "io/byte_order.h"

namespace {

constexpr std::uint32_t PCM_FMT_SIZE = 16;
constexpr std::uint32_t EXTENSIBLE_FMT_SIZE = 40;
// cbSize of the extensible format: the 22 bytes that follow it.
constexpr std::uint16_t EXTENSIBLE_EXTRA_SIZE = 22;
constexpr std::uint32_t DS64_SIZE = 28;
constexpr std::size_t DS64_ENTRY_SIZE = 12;
// KSDATAFORMAT_SUBTYPE_PCM: the sub-format GUID of integer PCM, as it is stored.
constexpr std::array<std::uint8_t, 16> SUBTYPE_PCM = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                      0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Appends little-endian fields and four-character ids to a header piece.
class Piece {
 public:
  Piece& id(const char* four) {
    bytes_.insert(bytes_.end(), four, four + 4);
    return *this;
  }
  Piece& u16(std::uint32_t v) { return put(v, 2); }
  Piece& u32(std::uint32_t v) { return put(v, 4); }
  Piece& u64(std::uint64_t v) { return put(v, 8); }
  Piece& raw(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  Piece& put(std::uint64_t v, int count) {
    append_le(bytes_, v, count);
    return *this;
  }
  std::vector<std::uint8_t> bytes_;
};

std::uint32_t fmt_size(const WavHeader& header) {
  return header.extensible ? EXTENSIBLE_FMT_SIZE : PCM_FMT_SIZE;
}

// Header bytes without a ds64 chunk.
std::uint64_t riff_header_size(const std::optional<WavExtensible>& extensible) {
  return 12 + 8 + (extensible ? EXTENSIBLE_FMT_SIZE : PCM_FMT_SIZE) + 8;
}

Piece format_piece(const WavHeader& header) {
  const SampleInfo& si = header.si;
  Piece fmt;
  fmt.u16(header.extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM)
      .u16(si.channels)
      .u32(si.samplesPerSec)
      .u32(si.avgBytesPerSec)
      .u16(si.blockAlign)
      .u16(si.bitsPerSample);
  if (header.extensible) {
    fmt.u16(EXTENSIBLE_EXTRA_SIZE)
        .u16(header.extensible->validBitsPerSample)
        .u32(header.extensible->channelMask)
        .raw(header.extensible->subFormat);
  }
  return fmt;
}

Piece ds64_piece(const WavHeader& header) {
  const std::uint64_t frames = header.si.blockAlign == 0 ? 0 : header.data_length / header.si.blockAlign;
  Piece ds64;
  ds64.id("ds64").u32(DS64_SIZE);
  ds64.u64(wav_header_size(header) - 8 + header.data_length + header.trailer_length)
      .u64(header.data_length)
      .u64(frames)
      .u32(0);
  return ds64;
}

}  // namespace

std::optional<WavFormat> wav_parse_fmt(std::span<const std::uint8_t> contents) {
  if (contents.size() < PCM_FMT_SIZE) return std::nullopt;
  const std::uint8_t* p = contents.data();
  WavFormat format;
  format.formatTag = read_le16(p);
  format.si.channels = read_le16(p + 2);
  format.si.samplesPerSec = read_le32(p + 4);
  format.si.avgBytesPerSec = read_le32(p + 8);
  format.si.blockAlign = read_le16(p + 12);
  format.si.bitsPerSample = read_le16(p + 14);
  format.si.bufferSize = format.si.avgBytesPerSec / 75;
  if (format.formatTag == WAVE_FORMAT_EXTENSIBLE && contents.size() >= EXTENSIBLE_FMT_SIZE) {
    WavExtensible extensible;
    extensible.validBitsPerSample = read_le16(p + 18);
    extensible.channelMask = read_le32(p + 20);
    std::copy_n(p + 24, extensible.subFormat.size(), extensible.subFormat.begin());
    format.extensible = extensible;
  }
  return format;
}

bool wav_format_is_pcm(const WavFormat& format) {
  if (format.formatTag == WAVE_FORMAT_PCM) return true;
  return format.formatTag == WAVE_FORMAT_EXTENSIBLE && format.extensible &&
         format.extensible->subFormat == SUBTYPE_PCM;
}

std::uint16_t wav_format_code(const WavFormat& format) {
  if (format.formatTag != WAVE_FORMAT_EXTENSIBLE || !format.extensible) return format.formatTag;
  return read_le16(format.extensible->subFormat.data());
}

std::optional<WavDs64> wav_parse_ds64(std::span<const std::uint8_t> contents) {
  if (contents.size() < DS64_SIZE) return std::nullopt;
  const std::uint8_t* p = contents.data();
  WavDs64 ds64;
  ds64.riffSize = read_le64(p);
  ds64.dataSize = read_le64(p + 8);
  ds64.sampleCount = read_le64(p + 16);
  const std::size_t held = (contents.size() - DS64_SIZE) / DS64_ENTRY_SIZE;
  const std::size_t entries = std::min<std::size_t>(read_le32(p + 24), held);
  for (std::size_t i = 0; i < entries; ++i) {
    const std::uint8_t* entry = p + DS64_SIZE + i * DS64_ENTRY_SIZE;
    ds64.table.emplace_back(std::string(reinterpret_cast<const char*>(entry), 4), read_le64(entry + 4));
  }
  return ds64;
}

WavHeader wav_plan_header(const SampleInfo& si, const std::optional<WavExtensible>& extensible,
                          std::uint64_t data_length, std::uint64_t trailer_length) {
  WavHeader header{si, extensible, false, data_length, trailer_length};
  const std::uint64_t room = RIFF_SIZE_UNKNOWN - (riff_header_size(extensible) - 8);
  header.rf64 = data_length > room || trailer_length > room - data_length;
  return header;
}

std::uint64_t wav_header_size(const WavHeader& header) {
  return riff_header_size(header.extensible) + (header.rf64 ? 8 + DS64_SIZE : 0);
}

int wav_write_header(std::FILE* fp, const WavHeader& header) {
  // In RF64 both 32-bit sizes say "see ds64"; the real sizes are in that chunk.
  const auto riff_size =
      header.rf64 ? RIFF_SIZE_UNKNOWN
                  : static_cast<std::uint32_t>(wav_header_size(header) - 8 + header.data_length +
                                               header.trailer_length);
  const auto data_size = header.rf64 ? RIFF_SIZE_UNKNOWN : static_cast<std::uint32_t>(header.data_length);
  Piece riff;
  riff.id(header.rf64 ? "RF64" : "RIFF").u32(riff_size).id("WAVE");
  Piece fmt_header;
  fmt_header.id("fmt ").u32(fmt_size(header));
  Piece data;
  data.id("data").u32(data_size);

  struct Step {
    Piece piece;
    const char* failure;
  };
  std::vector<Step> steps;
  steps.push_back({riff, "error writing wave header"});
  if (header.rf64) steps.push_back({ds64_piece(header), "error writing ds64 chunk"});
  steps.push_back({fmt_header, "error writing fmt chunk header"});
  steps.push_back({format_piece(header), "error writing format chunk"});
  steps.push_back({data, "error writing data chunk header"});
  for (const Step& step : steps) {
    const std::vector<std::uint8_t>& bytes = step.piece.bytes();
    if (std::fwrite(bytes.data(), 1, bytes.size(), fp) != bytes.size()) {
      std::printf("%s\n", step.failure);
      return 1;
    }
  }
  return 0;
}
