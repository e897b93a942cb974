// The bytes of RIFF WAVE headers: parsing the format and ds64 chunks a reader meets, and
// laying out the header a writer puts in front of the samples (canonical, extensible, RF64).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/format.h"

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
inline constexpr std::uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
// A 32-bit chunk size that stands for "see ds64" in RF64, and for "too large to say" elsewhere.
inline constexpr std::uint32_t RIFF_SIZE_UNKNOWN = 0xFFFFFFFF;

// What WAVE_FORMAT_EXTENSIBLE adds to the format chunk.
struct WavExtensible {
  std::uint16_t validBitsPerSample = 0;
  std::uint32_t channelMask = 0;
  std::array<std::uint8_t, 16> subFormat{};

  bool operator==(const WavExtensible&) const = default;
};

// The fields of a format chunk. extensible is set for WAVE_FORMAT_EXTENSIBLE with its whole
// 22-byte extension.
struct WavFormat {
  std::uint16_t formatTag = 0;
  SampleInfo si;  // the five fields, and bufferSize
  std::optional<WavExtensible> extensible;
};

// Parses the contents of a format chunk (16 bytes and more); nullopt when shorter.
std::optional<WavFormat> wav_parse_fmt(std::span<const std::uint8_t> contents);
// 1 for integer PCM: tag 1, or extensible with the PCM sub-format.
bool wav_format_is_pcm(const WavFormat& format);
// The kind of samples: the tag, or for WAVE_FORMAT_EXTENSIBLE its sub-format's, with which the
// sub-format's GUID begins.
std::uint16_t wav_format_code(const WavFormat& format);

// The ds64 chunk of RF64 and BW64: the 64-bit sizes of the RIFF and data chunks, and of any
// other chunk whose 32-bit size says RIFF_SIZE_UNKNOWN.
struct WavDs64 {
  std::uint64_t riffSize = 0;
  std::uint64_t dataSize = 0;
  std::uint64_t sampleCount = 0;
  std::vector<std::pair<std::string, std::uint64_t>> table;  // chunk id, size
};
// Parses the contents of a ds64 chunk (28 bytes and more); table entries that the contents do
// not hold are left out. nullopt when shorter than 28 bytes.
std::optional<WavDs64> wav_parse_ds64(std::span<const std::uint8_t> contents);

// The header a writer puts in front of data_length bytes of samples.
struct WavHeader {
  SampleInfo si;                            // the five format fields, written as they stand
  std::optional<WavExtensible> extensible;  // written as WAVE_FORMAT_EXTENSIBLE when set
  bool rf64 = false;                        // "RF64" with a ds64 chunk holding the sizes
  std::uint64_t data_length = 0;
  // Bytes behind the data chunk (its pad byte and the chunks after it), which the RIFF size
  // counts.
  std::uint64_t trailer_length = 0;
};

// The header for data_length bytes and a trailer behind them: RF64 when the RIFF size would
// not fit 32 bits, else RIFF. A plain PCM format gives the canonical 44-byte header.
WavHeader wav_plan_header(const SampleInfo& si, const std::optional<WavExtensible>& extensible,
                          std::uint64_t data_length, std::uint64_t trailer_length = 0);
// Bytes in front of the samples: 44 canonical, 68 extensible, 36 more for RF64's ds64 chunk.
std::uint64_t wav_header_size(const WavHeader& header);
// Writes the header at fp's position, piece by piece. 0 on success, 1 after printing on
// standard output which piece could not be written.
int wav_write_header(std::FILE* fp, const WavHeader& header);
