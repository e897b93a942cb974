// Pieces shared by the fuzz targets: a scratch folder per process for the input files the
// parsers open by path, quiet GLib logging, and the checks every break list must pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "breaks/break_file.h"
#include "breaks/track_break_list.h"

namespace tfold_fuzz {

// Stops the run with a message naming the failed condition; libFuzzer saves the input.
[[noreturn]] void fail(const char* what, const char* file, int line);
#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::tfold_fuzz::fail(#condition, __FILE__, __LINE__))

// A folder of this process, in /dev/shm where it exists so that the many small files cost no
// disk; removed at a normal exit.
const std::string& scratch_dir();
// Writes the bytes to scratch_dir()/name (replacing it) and returns the path.
std::string write_input(const char* name, const std::uint8_t* data, std::size_t size);

// Bad input makes the code under test warn, which is expected and only slows the run down;
// a critical is a misuse of a GLib function and ends the run as a crash.
void quiet_glib_logging();

// Names every break of the list the way split does, under each naming style (plain, track
// number first, disc and track with the given disc length), checking the visitor's view of
// the list: every break once, in order, each ending where the next begins.
void name_every_break(const TrackBreakList& list);

// The offsets of the list's breaks, in order.
std::vector<std::uint64_t> offsets_of(const TrackBreakList& list);

using BreakListWriter = int (*)(const std::string& path, const std::string& audio_filename,
                                const TrackBreakList& list);
using BreakListReader = int (*)(const std::string& path, TrackBreakList& list,
                                const BreakFileReading& reading);

// Reads the list file at path as split does and checks that the reading held memory in
// proportion to the file and the breaks it gave: a reader that keeps every line or token of
// a large file at once fails. Returns the reader's result.
int read_list_in_bounded_memory(const std::string& path, std::size_t size, TrackBreakList& list,
                                BreakListReader reader);

// One run of a time-coded format (CUE, TOC): the bytes are read as input_name through the
// reader split uses (with its fallback to TXT), every break is named, and a list whose offsets
// fit the formats' 32-bit time codes is written back with writer and read with reader, which
// must give the same offsets. The bytes are read with their metadata as well
// (check_metadata_read).
void fuzz_time_coded_list(const std::uint8_t* data, std::size_t size, const char* input_name,
                          BreakListWriter writer, BreakListReader reader);

// Reads the file at path (holding data) again with its metadata, as the naming and tagging
// options do, in a charset the first byte picks. Bytes that are UTF-8 without a byte-order
// mark must give the plain read's result and offsets; every metadata text must be UTF-8
// without control characters; every name a template makes must stay inside the output
// folder; and the tags of every track must render in each form a module writes.
void check_metadata_read(const std::uint8_t* data, std::size_t size, const std::string& path,
                         int plain_result, const TrackBreakList& plain);

}  // namespace tfold_fuzz
