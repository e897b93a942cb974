// RIFF WAVE: the reader of uncompressed PCM files (RIFF, RF64 and BW64) and the track writer.
#pragma once

#include <optional>

#include "formats/format.h"
#include "formats/wav/wav_header.h"

struct WavAudioFile final : AudioFile {
  std::int64_t data_offset = 0;  // file position of the first sample byte
  std::uint64_t data_size = 0;   // sample bytes; equal to si.numBytes
  // What the header says the data chunk holds: more than data_size when the file ends first.
  std::uint64_t declared_size = 0;
  std::optional<WavExtensible> extensible;  // set for a WAVE_FORMAT_EXTENSIBLE source
};

const FormatModule* wav_module();

// The two-way form of the module's open_file (see format_take_file): the file, or nullptr
// with the reason.
AudioFilePtr wav_open_file(const FormatModule& module, const std::string& path, ErrorText* error);
void wav_close_file(const FormatModule& module, AudioFilePtr file);
std::int64_t wav_read_data(AudioFile& file, std::span<std::uint8_t> buffer, std::uint64_t offset);
// Tracks keep the source's extensible format; data beyond a 32-bit RIFF size makes them RF64.
// request.tags go into a LIST/INFO chunk behind the data.
int wav_write_range(AudioFile& file, const TrackRequest& request);

// Writes the header of plain PCM at fp's position: canonical 44 bytes, or RF64 when the data
// does not fit a 32-bit RIFF size. 0 on success, 1 (a line on standard output) on failure.
int wav_write_header(std::FILE* fp, const SampleInfo& si, std::uint64_t data_length);

// Copies the header of path into si. 0 on success, 1 (with a warning) on failure.
int wav_read_header(const std::string& path, SampleInfo& si);
