// RIFF WAVE: the reader of uncompressed PCM files and the canonical 44-byte header writer.
#pragma once

#include "formats/format.h"

struct WavAudioFile final : AudioFile {
  std::int64_t data_offset = 0;  // file position of the first sample byte
  std::uint64_t data_size = 0;   // sample bytes; equal to si.numBytes
};

const FormatModule* wav_module();

AudioFilePtr wav_open_file(const FormatModule& module, const std::string& path, ErrorText* error);
void wav_close_file(const FormatModule& module, AudioFilePtr file);
std::int64_t wav_read_data(AudioFile& file, std::span<std::uint8_t> buffer, std::uint64_t offset);
int wav_write_range(AudioFile& file, const std::string& out_path, std::uint64_t start,
                    std::uint64_t end, WriteProgressFunc progress, void* user_data);

// Largest data length the header's 32-bit size fields can describe.
inline constexpr std::uint64_t WAV_MAX_DATA_LENGTH = 0xFFFFFFFFull - 36;

// Writes the canonical header at fp's position. 0 on success, 1 on failure (a line on
// standard output says which piece failed, or why the length does not fit).
int wav_write_header(std::FILE* fp, const SampleInfo& si, std::uint64_t data_length);

// Copies the header of path into si. 0 on success, 1 (with a warning) on failure.
int wav_read_header(const std::string& path, SampleInfo& si);
