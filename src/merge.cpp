// `merge`: joins WAV files of one PCM format into one file, copying each input's data chunk
// as it is behind a fresh header (canonical, or RF64 beyond 4 GiB).
#include "merge.h"

#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "io/file_copy.h"
#include "io/temporary_output.h"
#include "formats/wav/wav.h"

namespace {


constexpr const char* FORMAT_MISMATCH_TEXT =
    "ERROR: The files are not of the same format.\n\n"
    "This means that the sample rate, bits per sample, etc. are different.\n"
    "Please use a tool, like sox, to convert the files to the same format and\n"
    "try again.\n";

struct MergeInput {
  const std::string* path = nullptr;
  SampleInfo si;
  std::int64_t data_offset = 0;
  std::uint64_t declared_size = 0;  // what the header promises; the copy tells what is there
};

// The output as long as it is not complete: written under a temporary name beside its final
// path and moved there only once whole, so neither a failure nor an interruption leaves a
// half-written file that passes for a merge that worked (and blocks the next attempt).
struct MergeOutput {
  TemporaryOutput temporary;
  WavHeader header;  // as written in front of the data

  std::FILE* file() const { return temporary.file(); }
  const std::string& final_path() const { return temporary.final_path(); }
};

// The input as far as it holds whole sample frames: a piece of a frame would shift every
// later sample of the output by that many bytes (noise, swapped channels).
MergeInput whole_frames(MergeInput input) {
  const std::uint64_t frame = input.si.blockAlign;
  const std::uint64_t partial = frame > 1 ? input.declared_size % frame : 0;
  if (partial == 0) return input;
  g_warning("%s: its %" PRIu64 " data bytes end in part of a %" PRIu64
            "-byte sample frame; the last %" PRIu64 " bytes are left out",
            input.path->c_str(), input.declared_size, frame, partial);
  input.declared_size -= partial;
  input.si.numBytes -= input.si.numBytes % frame;
  return input;
}

bool read_input_headers(std::span<const std::string> paths, std::vector<MergeInput>& inputs) {
  const FormatModule& module = *wav_module();
  for (const std::string& path : paths) {
    ErrorText error;
    AudioFilePtr file = wav_open_file(module, path, &error);
    if (!file) {
      g_warning("Could not read WAV header of %s: %s", path.c_str(), error.value_or("").c_str());
      return false;
    }
    const auto& wav = static_cast<const WavAudioFile&>(*file);
    inputs.push_back(whole_frames({&path, wav.si, wav.data_offset, wav.declared_size}));
    wav_close_file(module, std::move(file));
  }
  return true;
}

// numBytes and bufferSize may differ: only the layout of the samples has to agree.
bool same_format(const SampleInfo& a, const SampleInfo& b) {
  return a.channels == b.channels && a.samplesPerSec == b.samplesPerSec &&
         a.avgBytesPerSec == b.avgBytesPerSec && a.blockAlign == b.blockAlign &&
         a.bitsPerSample == b.bitsPerSample;
}

// The summed data length, or nothing when a format differs from the first.
std::optional<std::uint64_t> check_formats(std::span<const MergeInput> inputs) {
  std::uint64_t total = inputs.front().si.numBytes;
  for (const MergeInput& input : inputs.subspan(1)) {
    if (!same_format(inputs.front().si, input.si)) return std::nullopt;
    total += input.si.numBytes;
  }
  return total;
}

void begin_input(MergeStatus* status, const MergeInput& input) {
  if (status == nullptr) return;
  status->fraction = 0.0;
  status->fileIndex += 1;
  status->fileName = *input.path;
}

void report_fraction(void* status, double fraction) {
  static_cast<MergeStatus*>(status)->fraction = fraction;
}

void print_write_error(const MergeOutput& out, int error) {
  std::printf("error writing to file %s: %s\n", out.final_path().c_str(), g_strerror(error));
}

// Copies the input's data behind what the output holds. Returns the bytes kept, which are
// fewer than its declared size only when the input ends early, or -1 after reporting a failure.
std::int64_t copy_input_data(MergeOutput& out, const MergeInput& input, MergeStatus* status) {
  begin_input(status, input);
  FilePtr in(std::fopen(input.path->c_str(), "rb"));
  if (!in) {
    std::printf("error opening %s for reading: %s\n", input.path->c_str(), g_strerror(errno));
    return -1;
  }
  const std::uint64_t length = input.declared_size;
  const CopyProgress progress{status != nullptr ? report_fraction : nullptr, status, 0, length};
  const CopyResult copy =
      copy_bytes(fileno(in.get()), static_cast<std::uint64_t>(input.data_offset), length, out.file(), progress);
  if (copy.read_error != 0) {
    std::printf("error reading %s: %s\n", input.path->c_str(), g_strerror(copy.read_error));
    return -1;
  }
  if (copy.write_error != 0) {
    print_write_error(out, copy.write_error);
    return -1;
  }
  const std::uint64_t copied = copy.copied;
  if (copied == length) return static_cast<std::int64_t>(copied);

  // A piece of a frame would shift every later sample of the output by that many bytes
  // (swapped channels, garbled 16-bit words): keep whole frames only and write over the rest.
  const std::uint64_t frame = input.si.blockAlign;
  const std::uint64_t partial = frame > 1 ? copied % frame : 0;
  if (partial != 0 && fseeko(out.file(), -static_cast<off_t>(partial), SEEK_CUR) != 0) {
    print_write_error(out, errno);
    return -1;
  }
  g_warning("%s ends after %" PRIu64 " of its %" PRIu64 " data bytes; merged the %" PRIu64
            " bytes of whole frames it holds",
            input.path->c_str(), copied, length, copied - partial);
  return static_cast<std::int64_t>(copied - partial);
}

// After a short input the header must describe what the file really holds. It keeps its
// layout, so the data behind it stays where it is.
bool correct_header(MergeOutput& out, std::uint64_t data_length) {
  std::FILE* fp = out.file();
  WavHeader header = out.header;
  header.data_length = data_length;
  const auto file_length = static_cast<off_t>(wav_header_size(header) + data_length);
  if (std::fflush(fp) != 0 || ftruncate(fileno(fp), file_length) != 0 ||
      fseeko(fp, 0, SEEK_SET) != 0 || wav_write_header(fp, header) != 0) {
    print_write_error(out, errno);
    return false;
  }
  return true;
}

void start_status(MergeStatus* status, std::size_t count) {
  if (status == nullptr) return;
  status->fileCount = static_cast<std::uint32_t>(count);
  status->fileIndex = 0;
  status->done = 0;
  status->reserved_zero = 0;
  status->reserved_minus_one = -1;
}

void finish_status(MergeStatus* status) {
  if (status == nullptr) return;
  status->done = 1;
  status->fileName.clear();
  status->fraction = 1.0;
}

int copy_all(MergeOutput& out, std::span<const MergeInput> inputs, std::uint64_t declared,
             MergeStatus* status) {
  std::uint64_t written = 0;
  for (const MergeInput& input : inputs) {
    const std::int64_t kept = copy_input_data(out, input, status);
    if (kept < 0) return -1;
    written += static_cast<std::uint64_t>(kept);
  }
  if (written != declared && !correct_header(out, written)) return -1;
  return 0;
}

constexpr const char* MERGE_SUMMARY =
    "Joins WAV files of one PCM format into one WAV file, merged.wav unless -o names it.";

struct MergePlan {
  std::string out_path;
  std::vector<std::string> inputs;
};

std::optional<MergePlan> parse_merge_arguments(std::span<char* const> args) {
  MergePlan plan{"merged.wav", {}};
  if (!args.empty() && std::string_view(args[0]) == "-o") {
    if (args.size() < 2) return std::nullopt;
    plan.out_path = args[1];
    args = args.subspan(2);
  }
  // "--" ends the options here as in every subcommand; only a later one is a file name.
  if (!args.empty() && std::string_view(args[0]) == "--") args = args.subspan(1);
  if (args.size() < 2) return std::nullopt;
  plan.inputs.assign(args.begin(), args.end());
  return plan;
}

bool path_taken(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::optional<MergeOutput> open_output(const std::string& out_path) {
  if (path_taken(out_path)) {
    errno = EEXIST;
    return std::nullopt;
  }
  std::optional<TemporaryOutput> temporary = TemporaryOutput::create(out_path);
  if (!temporary) return std::nullopt;
  return MergeOutput{std::move(*temporary), {}};
}

}  // namespace

int merge_wav_files(const std::string& out_path, std::span<const std::string> paths,
                    MergeStatus* status) {
  start_status(status, paths.size());
  if (paths.empty()) return -1;
  std::vector<MergeInput> inputs;
  inputs.reserve(paths.size());
  if (!read_input_headers(paths, inputs)) return -1;
  const std::optional<std::uint64_t> total = check_formats(inputs);
  if (!total) return 1;
  std::optional<MergeOutput> out = open_output(out_path);
  if (!out) {
    std::printf("error opening %s for writing: %s\n", out_path.c_str(), g_strerror(errno));
    return -1;
  }
  // Beyond what a 32-bit RIFF size says, the output is RF64.
  out->header = wav_plan_header(inputs.front().si, std::nullopt, *total);
  if (wav_write_header(out->file(), out->header) != 0) return -1;
  if (copy_all(*out, inputs, *total, status) != 0) return -1;
  if (std::fflush(out->file()) != 0) {
    print_write_error(*out, errno);
    return -1;
  }
  // Never over an entry that appeared since the caller looked.
  if (!out->temporary.commit_new()) {
    std::printf("error opening %s for writing: %s\n", out_path.c_str(), g_strerror(errno));
    return -1;
  }
  finish_status(status);
  return 0;
}

int tfold_merge(int argc, char** argv) {
  // The command line predates the option parser and scripts rely on it: only an argument that
  // is exactly "-o", in front, is the option, and "-oNAME" is an input. The parser answers --help.
  if (argc > 1 && std::string_view(argv[1]) == "--help") {
    return cli_parse_options(argc, argv, {"[-o OUTFILE] FILE FILE...", MERGE_SUMMARY}).value_or(0);
  }
  const std::optional<MergePlan> plan =
      parse_merge_arguments(std::span<char* const>(argv + 1, static_cast<std::size_t>(argc - 1)));
  if (!plan) {
    std::printf("Must pass filenames of wave files to merge.\n");
    std::printf("Usage: joinery [-o outfile] mergefiles...\n");
    return 1;
  }
  if (path_taken(plan->out_path)) {
    std::fprintf(stderr, "ERROR: The output file %s already exists.\n", plan->out_path.c_str());
    return 2;
  }
  switch (merge_wav_files(plan->out_path, plan->inputs, nullptr)) {
    case 0:
      return 0;
    case 1:
      std::fputs(FORMAT_MISMATCH_TEXT, stderr);
      return 1;
    default:
      return 1;
  }
}
