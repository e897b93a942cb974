// `gen`: the eight example WAV files, every byte of them fixed by the formulas below.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <variant>

#include "formats/format.h"

// A tone at position t (0 <= t < 1 through the file): amplitude and frequency in Hz.
using SineSignal = void (*)(float t, float& amplitude, float& frequency);
// The sample byte at a sample index.
using ByteFormula = std::uint8_t (*)(std::uint32_t index);
using GenSignal = std::variant<SineSignal, ByteFormula>;

// Writes exactly si->numBytes sample bytes to out (positioned behind the header).
// true when every byte was handed to the stream.
using GenWriter = bool (*)(std::FILE* out, const SampleInfo* si, GenSignal signal);

struct GenRow {
  const char* name;
  std::uint32_t channels;
  std::uint32_t samplesPerSec;
  std::uint32_t bitsPerSample;
  std::uint32_t seconds;
  GenWriter writer;
  GenSignal signal;
};

bool generate_sine(std::FILE* out, const SampleInfo* si, GenSignal signal);
void sine_modulation(float t, float& amplitude, float& frequency);
// Only for 8 kHz 8-bit mono; anything else ends the program with an assertion.
bool generate_oneliner(std::FILE* out, const SampleInfo* si, GenSignal formula);
std::uint8_t oneliner_formula(std::uint32_t t);

// The rows in the order they are written.
extern const std::array<GenRow, 8> gen_table;

// The SampleInfo of a row: derived fields computed from the row's four numbers.
SampleInfo gen_sample_info(const GenRow& row);
