// `gen`: writes the example WAV files. The sample formulas keep their exact precisions
// (single-precision sine and cosine, the phase recomputed from the index for every frame),
// because users compare these files byte for byte across builds.
#include "tonesmith.h"

#include <glib.h>

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "io/temporary_output.h"
#include "formats/wav/wav.h"

namespace {

constexpr double PI = 3.141592653589793;
constexpr double TWO_PI = 6.283185307179586;
constexpr std::size_t WRITE_CHUNK_SIZE = std::size_t{1} << 18;

// Collects samples and hands them to the stream in large pieces; remembers the first
// write that fell short.
class ChunkedWriter {
 public:
  explicit ChunkedWriter(std::FILE* out) : out_(out), buffer_(WRITE_CHUNK_SIZE) {}
  void put(std::uint8_t byte) {
    buffer_[used_++] = byte;
    if (used_ == buffer_.size()) flush();
  }
  bool flush() {
    if (ok_ && used_ != 0) ok_ = std::fwrite(buffer_.data(), 1, used_, out_) == used_;
    used_ = 0;
    return ok_;
  }
  bool ok() const { return ok_; }

 private:
  std::FILE* out_;
  std::vector<std::uint8_t> buffer_;
  std::size_t used_ = 0;
  bool ok_ = true;
};

void put_frame(ChunkedWriter& sink, const SampleInfo& si, float s) {
  if (si.bitsPerSample == 16) {
    const auto value = static_cast<int>(s * 32767.0f);
    for (std::uint32_t c = 0; c < si.channels; ++c) {
      sink.put(static_cast<std::uint8_t>(value & 0xFF));
      sink.put(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    }
  } else if (si.bitsPerSample == 8) {
    const auto value = static_cast<int>(s * 127.0f + 127.0f);
    for (std::uint32_t c = 0; c < si.channels; ++c) sink.put(static_cast<std::uint8_t>(value & 0xFF));
  }
}

// The file appears under its name only once it is whole: a partial file would pass for a good
// one, and the next run would call it "EXISTS".
const char* write_gen_file(const std::string& path, const GenRow& row, const SampleInfo& si) {
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return "EXISTS";
  std::optional<TemporaryOutput> temporary = TemporaryOutput::create(path);
  if (!temporary) return "FAIL";
  if (wav_write_header(temporary->file(), si, si.numBytes) != 0) return "FAIL";
  if (!row.writer(temporary->file(), &si, row.signal)) return "FAIL";
  // An entry that appeared meanwhile is left alone.
  return temporary->commit_new() ? "OK" : "FAIL";
}

std::string gen_file_name(const GenRow& row) {
  char name[128];
  std::snprintf(name, sizeof name, "wav_%s_%uch_%uhz_%ubit.wav", row.name, row.channels,
                row.samplesPerSec, row.bitsPerSample);
  return name;
}

}  // namespace

const std::array<GenRow, 8> gen_table = {{
    {"gen", 2, 44100, 16, 60, generate_sine, sine_modulation},
    {"gen", 2, 44100, 8, 60, generate_sine, sine_modulation},
    {"gen", 1, 44100, 16, 60, generate_sine, sine_modulation},
    {"gen", 1, 44100, 8, 60, generate_sine, sine_modulation},
    {"gen", 1, 22050, 8, 60, generate_sine, sine_modulation},
    {"gen", 1, 11025, 8, 60, generate_sine, sine_modulation},
    {"oneliner", 1, 8000, 8, 60, generate_oneliner, oneliner_formula},
    {"gen_long", 2, 44100, 16, 180, generate_sine, sine_modulation},
}};

SampleInfo gen_sample_info(const GenRow& row) {
  SampleInfo si;
  si.channels = row.channels;
  si.samplesPerSec = row.samplesPerSec;
  si.bitsPerSample = row.bitsPerSample;
  si.blockAlign = row.bitsPerSample / 8 * row.channels;
  si.avgBytesPerSec = si.blockAlign * si.samplesPerSec;
  si.numBytes = static_cast<std::uint32_t>(row.seconds * si.avgBytesPerSec);
  si.bufferSize = si.avgBytesPerSec / 75;
  return si;
}

void sine_modulation(float t, float& amplitude, float& frequency) {
  const auto a = static_cast<float>(static_cast<double>(t) * TWO_PI);
  amplitude = std::fabs(std::cos(13.0f * a));
  frequency = std::sin(77.0f * a) * 440.0f + 440.0f;
}

bool generate_sine(std::FILE* out, const SampleInfo* si, GenSignal signal) {
  const SineSignal tone = std::get<SineSignal>(signal);
  const auto frames = si->blockAlign == 0 ? 0u : static_cast<std::uint32_t>(si->numBytes / si->blockAlign);
  ChunkedWriter sink(out);
  for (std::uint32_t i = 0; i < frames && sink.ok(); ++i) {
    const float t = static_cast<float>(i) / static_cast<float>(frames);
    float amplitude = 0.0f;
    float frequency = 0.0f;
    tone(t, amplitude, frequency);
    // From the index every time: a running phase would drift by its rounding errors.
    const auto phase = static_cast<float>(static_cast<double>(static_cast<float>(i)) *
                                          (static_cast<double>(frequency) * PI) /
                                          static_cast<double>(si->samplesPerSec));
    put_frame(sink, *si, std::sin(phase) * amplitude);
  }
  return sink.flush();
}

bool generate_oneliner(std::FILE* out, const SampleInfo* si, GenSignal formula) {
  g_assert_cmpint(si->channels, ==, 1);
  g_assert_cmpint(si->bitsPerSample, ==, 8);
  g_assert_cmpint(si->samplesPerSec, ==, 8000);
  const ByteFormula byte_at = std::get<ByteFormula>(formula);
  ChunkedWriter sink(out);
  for (std::uint64_t i = 0; i < si->numBytes && sink.ok(); ++i) {
    sink.put(byte_at(static_cast<std::uint32_t>(i)));
  }
  return sink.flush();
}

std::uint8_t oneliner_formula(std::uint32_t t) {
  return static_cast<std::uint8_t>(t * ((t >> 4) & ((t >> 8) | (t >> 12)) & 63));
}

int tfold_gen(int argc, char** argv) {
  const SubcommandOptions options = {"", "Writes a set of example WAV files into the current folder."};
  if (const std::optional<int> status = cli_parse_options(argc, argv, options)) return *status;
  // The files always go into the current folder: a folder given here would be ignored.
  if (argc > 1) {
    std::printf("Usage: %s\n", argv[0]);
    return 1;
  }
  for (const GenRow& row : gen_table) {
    const SampleInfo si = gen_sample_info(row);
    const std::string path = gen_file_name(row);
    std::printf("%s ... ", path.c_str());
    std::fflush(stdout);
    std::printf("%s\n", write_gen_file(path, row, si));
  }
  return 0;
}
