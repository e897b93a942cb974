// tfold plot through the binary: the PNG read back with cairo and looked at column by column,
// the SVG parsed as XML and its break lines counted, the breaks detect finds drawn where
// detect puts them, every format, and a sparse recording of 3 GiB read no more than needed.
#include <gtest/gtest.h>

#include <cairo.h>
#include <glib.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <regex>

#include "plot/layout.h"
#include "plot/render.h"
#include "support/harness.h"
#include "support/tools.h"
#include "support/wav_builder.h"

using namespace tfold_test;
namespace fs = std::filesystem;

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr bool SANITIZED = true;
#else
constexpr bool SANITIZED = false;
#endif

struct SurfaceDestroy {
  void operator()(cairo_surface_t* surface) const noexcept { cairo_surface_destroy(surface); }
};

// A PNG as cairo reads it back.
class Png {
 public:
  explicit Png(const std::string& path) : surface_(cairo_image_surface_create_from_png(path.c_str())) {}
  bool ok() const { return cairo_surface_status(surface_.get()) == CAIRO_STATUS_SUCCESS; }
  int width() const { return cairo_image_surface_get_width(surface_.get()); }
  int height() const { return cairo_image_surface_get_height(surface_.get()); }
  // Whether pixel (x, y) has colour, give or take rounding.
  bool is(int x, int y, const Rgb& colour) const {
    const auto* row = cairo_image_surface_get_data(surface_.get()) + y * cairo_image_surface_get_stride(surface_.get());
    std::uint32_t pixel = 0;
    std::memcpy(&pixel, row + 4 * x, 4);
    const auto near = [](std::uint32_t got, double wanted) { return std::abs(static_cast<double>(got) - wanted * 255) <= 2; };
    return near((pixel >> 16) & 0xFF, colour.red) && near((pixel >> 8) & 0xFF, colour.green) &&
           near(pixel & 0xFF, colour.blue);
  }
  // How many pixels of column x between rows top and bottom have colour (or, with other,
  // any other colour).
  int count(int x, double top, double bottom, const Rgb& colour, bool other) const {
    int n = 0;
    for (int y = static_cast<int>(top); y < static_cast<int>(bottom); ++y) n += is(x, y, colour) != other ? 1 : 0;
    return n;
  }
  int count(int x, double top, double bottom, const Rgb& colour) const { return count(x, top, bottom, colour, false); }
  // The columns whose pixel in row y has colour.
  std::vector<int> columns_in_row(int y, const Rgb& colour) const {
    std::vector<int> columns;
    for (int x = 0; x < width(); ++x) {
      if (is(x, y, colour)) columns.push_back(x);
    }
    return columns;
  }

 private:
  std::unique_ptr<cairo_surface_t, SurfaceDestroy> surface_;
};

// 16-bit samples as little-endian bytes.
Bytes pcm16(const std::vector<std::int16_t>& samples) {
  Bytes bytes;
  for (const std::int16_t s : samples) {
    bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
  }
  return bytes;
}

// 8 kHz: `silent` seconds of digital silence, then `loud` seconds of a full-scale 1 kHz square
// wave, on channel 0 of `channels` (the others silent).
Bytes silence_then_tone(int silent, int loud, int channels = 1) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(8000 * silent * channels), 0);
  for (int i = 0; i < 8000 * loud; ++i) {
    samples.push_back((i / 4) % 2 == 0 ? 32767 : -32767);
    for (int c = 1; c < channels; ++c) samples.push_back(0);
  }
  return canonical_wav(static_cast<std::uint16_t>(channels), 8000, 16, pcm16(samples));
}

// The colour a break line or stroke has in cairo's SVG.
std::string svg_stroke(const Rgb& colour) {
  const auto percent = [](double v) { return std::to_string(static_cast<int>(std::lround(v * 100))) + "%"; };
  return "stroke:rgb(" + percent(colour.red) + "," + percent(colour.green) + "," + percent(colour.blue) + ")";
}

// The x of every vertical line of an SVG stroked in colour; the SVG must parse as XML.
std::vector<double> svg_lines(const std::string& path, const Rgb& colour) {
  struct Found {
    std::string stroke;
    std::vector<double> xs;
  } found{svg_stroke(colour), {}};
  GMarkupParser parser{};
  parser.start_element = [](GMarkupParseContext*, const gchar* element, const gchar** names, const gchar** values,
                            gpointer user_data, GError**) {
    auto& f = *static_cast<Found*>(user_data);
    if (std::string(element) != "path") return;
    std::string style, d;
    for (int i = 0; names[i] != nullptr; ++i) {
      if (std::string(names[i]) == "style") style = values[i];
      if (std::string(names[i]) == "d") d = values[i];
    }
    std::smatch m;
    if (style.find(f.stroke + ";") != std::string::npos && std::regex_search(d, m, std::regex(R"(^M ([0-9.]+) )"))) {
      f.xs.push_back(std::stod(m[1]));
    }
  };
  const std::string text = read_text(path);
  GMarkupParseContext* context = g_markup_parse_context_new(&parser, G_MARKUP_DEFAULT_FLAGS, &found, nullptr);
  GError* error = nullptr;
  const bool parsed = g_markup_parse_context_parse(context, text.data(), static_cast<gssize>(text.size()), &error) &&
                      g_markup_parse_context_end_parse(context, &error);
  g_markup_parse_context_free(context);
  EXPECT_TRUE(parsed) << (error != nullptr ? error->message : "");
  if (error != nullptr) g_error_free(error);
  return found.xs;
}

TEST(Plot, SilenceHasNoInkAFullScaleToneFillsTheBandAndTheBreakSitsOnItsColumn) {
  Tfold t;
  write_file(t / "a.wav", silence_then_tone(4, 6));
  write_text(t / "a.txt", "0=intro\n300=tone\n");  // the break at 4 s, column 400 of 1000
  const RunResult r = t.run({"plot", "--no-mood", "--width=1000", "--height=200", "a.wav", "a.txt", "a.png"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const Png png(t / "a.png");
  ASSERT_TRUE(png.ok());
  EXPECT_EQ(png.width(), 1000);
  EXPECT_EQ(png.height(), 200);
  const PlotRect band = plot_layout(200, 1, true).bands.at(0);
  for (int x = 2; x < 398; ++x) ASSERT_EQ(png.count(x, band.top, band.bottom(), PLOT_WAVEFORM), 0) << "column " << x;
  for (int x = 402; x < 1000; ++x) {
    ASSERT_GE(png.count(x, band.top, band.bottom(), PLOT_WAVEFORM), 0.95 * band.height) << "column " << x;
  }
  const std::vector<int> lines = png.columns_in_row(static_cast<int>(band.top) + 1, PLOT_BREAK);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], 0);
  EXPECT_NEAR(lines[1], 400, 1);
}

TEST(Plot, TheMoodBarColoursTheWaveformUnlessTheSettingOrTheOptionSaysNo) {
  Tfold t;
  write_file(t / "a.wav", silence_then_tone(1, 3));
  ASSERT_EQ(t.run({"plot", "--width=400", "--height=100", "a.wav", "mood.png"}).status, 0);
  ASSERT_EQ(t.run({"plot", "--no-mood", "--width=400", "--height=100", "a.wav", "plain.png"}).status, 0);
  std::string settings = read_text(t.settings_file());
  const std::size_t at = settings.find("show_moodbar=true");
  ASSERT_NE(at, std::string::npos);
  write_text(t.settings_file(), settings.replace(at, 17, "show_moodbar=false"));
  ASSERT_EQ(t.run({"plot", "--width=400", "--height=100", "a.wav", "setting.png"}).status, 0);

  const PlotRect band = plot_layout(100, 1, false).bands.at(0);
  const int middle = static_cast<int>(band.top + band.height / 4);
  // A square wave's harmonics reach every band: its mood colour is no plain waveform colour.
  EXPECT_FALSE(Png(t / "mood.png").is(300, middle, PLOT_WAVEFORM));
  EXPECT_TRUE(Png(t / "plain.png").is(300, middle, PLOT_WAVEFORM));
  EXPECT_TRUE(Png(t / "setting.png").is(300, middle, PLOT_WAVEFORM));
}

TEST(Plot, ChannelsDrawsEachChannelInItsOwnBand) {
  Tfold t;
  write_file(t / "a.wav", silence_then_tone(0, 2, 2));  // the tone on the left channel only
  ASSERT_EQ(t.run({"plot", "--channels", "--no-mood", "--width=200", "--height=200", "a.wav", "a.png"}).status, 0);
  const Png png(t / "a.png");
  const PlotLayout layout = plot_layout(200, 2, false);
  ASSERT_EQ(layout.bands.size(), 2u);
  for (const int x : {10, 100, 190}) {
    EXPECT_GE(png.count(x, layout.bands[0].top, layout.bands[0].bottom(), PLOT_WAVEFORM), 0.95 * layout.bands[0].height);
    EXPECT_EQ(png.count(x, layout.bands[1].top, layout.bands[1].bottom(), PLOT_WAVEFORM), 0);
  }
}

TEST(Plot, TheSvgParsesAndHoldsOneLinePerBreakInView) {
  Tfold t;
  write_file(t / "a.wav", silence_then_tone(4, 6));
  // Four breaks, the third a track that is not written; 10 s over 1000 pixels.
  write_text(t / "a.txt", "0=a\n150=b\n300\n525=d\n");
  ASSERT_EQ(t.run({"plot", "--width=1000", "a.wav", "a.txt", "all.svg"}).status, 0);
  EXPECT_EQ(svg_lines(t / "all.svg", PLOT_BREAK), (std::vector<double>{0.5, 200.5, 400.5, 700.5}));
  // From block 100 to 5 seconds (block 375): the breaks at 150 and 300 only, 3.67 s over 1000 pixels.
  ASSERT_EQ(t.run({"plot", "--width=1000", "--from=100", "--to=0:05.00", "a.wav", "a.txt", "part.svg"}).status, 0);
  const std::vector<double> xs = svg_lines(t / "part.svg", PLOT_BREAK);
  ASSERT_EQ(xs.size(), 2u);
  EXPECT_NEAR(xs[0], 181.5, 1);  // (150 - 100) / 275 of the width
  EXPECT_NEAR(xs[1], 727.5, 1);  // (300 - 100) / 275
}

TEST(Plot, DetectDrawsTheBreaksThatDetectWrites) {
  Tfold t;
  const fs::path audio = fixture("detect_vinyl.wav");
  ASSERT_EQ(t.run({"detect", audio.string(), "found.txt"}).status, 0);
  const RunResult r = t.run({"plot", "--detect", audio.string(), "found.txt", "found.svg"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<double> listed = svg_lines(t / "found.svg", PLOT_BREAK);
  const std::vector<double> detected = svg_lines(t / "found.svg", PLOT_DETECTED_BREAK);
  ASSERT_EQ(listed.size(), 4u);  // the first track's break at 0, then one in each of three gaps
  EXPECT_EQ(detected, std::vector<double>(listed.begin() + 1, listed.end()));
}

TEST(Plot, EveryFormatDraws) {
  Tfold t;
  for (const char* name : {"detect_vinyl.mp3", "detect_vinyl.flac", "ogg_stereo44.ogg", "detect_vinyl.wav"}) {
    SCOPED_TRACE(name);
    const std::string image = std::string(name) + ".png";
    const RunResult r = t.run({"plot", "--no-mood", "--width=300", "--height=120", fixture(name).string(), image});
    ASSERT_EQ(r.status, 0) << r.err;
    const Png png(t / image);
    ASSERT_TRUE(png.ok());
    EXPECT_EQ(png.width(), 300);
    const PlotRect band = plot_layout(120, 1, false).bands.at(0);
    int ink = 0;
    for (int x = 0; x < 300; ++x) ink += png.count(x, band.top, band.bottom(), PLOT_WAVEFORM);
    EXPECT_GT(ink, 300);
  }
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* message;
};

TEST(Plot, RefusalsAndTheirStatusesLeaveNoImage) {
  Tfold t;
  write_file(t / "a.wav", silence_then_tone(1, 1));
  write_text(t / "a.txt", "0=a\n");
  write_text(t / "old.png", "not replaced");
  const std::vector<RefusalCase> cases = {
      {"no arguments", {}, 1, "Usage:"},
      {"too many", {"a.wav", "a.txt", "b.txt", "x.png"}, 1, "Usage:"},
      {"other image type", {"a.wav", "x.jpg"}, 1, "IMAGE must end in .png or .svg"},
      {"narrow", {"--width=99", "a.wav", "x.png"}, 1, "--width must be 100 to 16384 pixels"},
      {"flat", {"--height=4097", "a.wav", "x.png"}, 1, "--height must be 100 to 4096 pixels"},
      {"bad time", {"--from=1:75", "a.wav", "x.png"}, 1, "--from must be a time"},
      {"backwards", {"--from=0:01.00", "--to=10", "a.wav", "x.png"}, 1, "--from must lie before --to"},
      {"beyond the end", {"--from=0:05", "a.wav", "x.png"}, 1, "--from lies beyond the end of the recording (0:02.00)"},
      {"no audio", {"missing.wav", "x.png"}, 2, "Could not open missing.wav"},
      {"no list", {"a.wav", "missing.txt", "x.png"}, 2, "Could not open/parse missing.txt"},
      {"no folder", {"a.wav", "nowhere/x.png"}, 2, "nowhere/x.png"},
      {"existing image", {"a.wav", "old.png"}, 2, "old.png exists: not replaced"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args{"plot"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = t.run(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(t / "x.png"));
  }
  EXPECT_EQ(read_text(t / "old.png"), "not replaced");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(t.dir())) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".config", ".home", "a.txt", "a.wav", "old.png"}));
}

// A sparse WAV of 3 GiB (44.1 kHz stereo, about 5 h 4 min), silent but for one second of
// full-scale tone at 2:00:00.
constexpr std::uint64_t BIG_DATA = (std::uint64_t{3} << 30) - 44;

fs::path sparse_recording(const Tfold& t) {
  const fs::path path = t.dir() / "long.wav";
  write_file(path, canonical_wav(2, 44100, 16, {}));
  Bytes header = read_file(path);
  for (int i = 0; i < 4; ++i) {
    header[4 + i] = static_cast<std::uint8_t>(((BIG_DATA + 36) >> (8 * i)) & 0xFF);
    header[40 + i] = static_cast<std::uint8_t>((BIG_DATA >> (8 * i)) & 0xFF);
  }
  write_file(path, header);
  fs::resize_file(path, 44 + BIG_DATA);
  std::vector<std::int16_t> tone;
  for (int i = 0; i < 44100; ++i) tone.insert(tone.end(), 2, (i / 20) % 2 == 0 ? 32767 : -32767);
  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  out.seekp(static_cast<std::streamoff>(44 + std::uint64_t{7200} * 44100 * 4));
  const Bytes bytes = pcm16(tone);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

struct Measured {
  int status = -1;
  std::uint64_t bytes_read = 0;  // what the process read through system calls
  long peak_kib = 0;
};

// tfold run in its sandbox by a shell that reports, once tfold has ended, the bytes its
// children read (the kernel adds a reaped child's reads to its parent's) and tfold's peak
// memory, as GNU time measures it.
Measured measured_run(const Tfold& t, const std::vector<std::string>& args) {
  std::string command = "cd '" + t.dir().string() + "' && HOME='" + t.home().string() + "' XDG_CONFIG_HOME='" +
                        t.config_dir().string() + "' /usr/bin/time -f %M -o rss.txt '" + binary_path() + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " </dev/null >/dev/null 2>&1; status=$?; grep '^rchar' /proc/$$/io; cat rss.txt; exit $status";
  const ToolResult r = run_tool({"sh", "-c", command});
  Measured m;
  m.status = r.status;
  std::smatch match;
  if (std::regex_search(r.out, match, std::regex(R"(rchar: (\d+)\n(\d+))"))) {
    m.bytes_read = std::stoull(match[1]);
    m.peak_kib = std::stol(match[2]);
  }
  return m;
}

TEST(PlotLongRecording, APartReadsOnlyThatPart) {
  if (!fs::exists("/usr/bin/time")) GTEST_SKIP() << "needs GNU time";
  Tfold t;
  sparse_recording(t);
  // Three seconds around the tone, 300 pixels: the tone fills columns 100 to 199.
  const Measured m = measured_run(t, {"plot", "--no-mood", "--width=300", "--height=100", "--from=119:59",
                                      "--to=120:02", "long.wav", "part.png"});
  ASSERT_EQ(m.status, 0);
  EXPECT_GT(m.bytes_read, 0u);
  EXPECT_LT(m.bytes_read, std::uint64_t{8} << 20);  // the 529 kB shown, not the 3 GiB
  const Png png(t / "part.png");
  const PlotRect band = plot_layout(100, 1, false).bands.at(0);
  EXPECT_EQ(png.count(98, band.top, band.bottom(), PLOT_WAVEFORM), 0);
  EXPECT_GE(png.count(101, band.top, band.bottom(), PLOT_WAVEFORM), 0.95 * band.height);
  EXPECT_GE(png.count(198, band.top, band.bottom(), PLOT_WAVEFORM), 0.95 * band.height);
  EXPECT_EQ(png.count(201, band.top, band.bottom(), PLOT_WAVEFORM), 0);
}

TEST(PlotLongRecording, TheWholeIsReadOnceWithFlatMemory) {
  if (SANITIZED) GTEST_SKIP() << "a pass over 3 GiB is left to the build without sanitizers";
  if (!fs::exists("/usr/bin/time")) GTEST_SKIP() << "needs GNU time";
  Tfold t;
  sparse_recording(t);
  const Measured m = measured_run(t, {"plot", "long.wav", "whole.png"});
  ASSERT_EQ(m.status, 0);
  EXPECT_GE(m.bytes_read, BIG_DATA);
  EXPECT_LT(m.bytes_read, BIG_DATA + (std::uint64_t{16} << 20));
  // The memory of a picture of one second: a waveform a block would add 11 MB, samples more.
  write_file(t / "short.wav", silence_then_tone(0, 1));
  const Measured short_run = measured_run(t, {"plot", "short.wav", "short.png"});
  ASSERT_EQ(short_run.status, 0);
  EXPECT_LT(m.peak_kib, short_run.peak_kib + 4 * 1024);
  const Png png(t / "whole.png");
  ASSERT_TRUE(png.ok());
  // The tone's second, 7200 s of 18260.9 s on 1600 pixels, is column 630: ink in its mood
  // colour over the band; elsewhere only the background and the zero line's row.
  const PlotRect band = plot_layout(400, 1, false).bands.at(0);
  EXPECT_GE(png.count(630, band.top, band.bottom(), PLOT_BACKGROUND, true), 0.95 * band.height);
  for (const int x : {0, 629, 631, 1599}) EXPECT_LE(png.count(x, band.top, band.bottom(), PLOT_BACKGROUND, true), 1) << x;
}

// detect's levels come from the same pass as the picture: the recording is read once, here a
// sparse 256 MiB one, so that the slower level filter of detect keeps the test short.
TEST(PlotLongRecording, DetectSharesThePass) {
  if (!fs::exists("/usr/bin/time")) GTEST_SKIP() << "needs GNU time";
  Tfold t;
  constexpr std::uint64_t data = std::uint64_t{256} << 20;
  write_file(t / "mid.wav", canonical_wav(2, 44100, 16, {}));
  Bytes header = read_file(t / "mid.wav");
  for (int i = 0; i < 4; ++i) {
    header[4 + i] = static_cast<std::uint8_t>(((data + 36) >> (8 * i)) & 0xFF);
    header[40 + i] = static_cast<std::uint8_t>((data >> (8 * i)) & 0xFF);
  }
  write_file(t / "mid.wav", header);
  fs::resize_file(t / "mid.wav", 44 + data);
  const Measured m = measured_run(t, {"plot", "--detect", "mid.wav", "mid.png"});
  ASSERT_EQ(m.status, 0);
  EXPECT_GE(m.bytes_read, data);
  EXPECT_LT(m.bytes_read, data + (std::uint64_t{16} << 20));
}

}  // namespace
