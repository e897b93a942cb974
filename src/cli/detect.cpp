// tfold detect: find the track breaks of a recording from its audio and write them as a
// break list that list and split read.
#include <glib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "breaks/break_file.h"
#include "breaks/time_code.h"
#include "breaks/track_break_list.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/progress_line.h"
#include "detect/detector.h"
#include "detect/envelope_reader.h"
#include "document/audio_document.h"
#include "formats/registry.h"
#include "io/temporary_output.h"

namespace {

constexpr char EXIT_STATUSES[] =
    "Exit status: 0 breaks written, 1 usage, 2 audio file unreadable or LIST exists or cannot be\n"
    "written, 5 the tracks asked for could not be found (the breaks found are written).";
constexpr gint NOT_GIVEN = G_MININT;

struct GFreeDeleter {
  void operator()(gchar* text) const noexcept { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

// What the command line asks for. The option entries point into it.
struct DetectRequest {
  gint tracks = NOT_GIVEN;
  GText threshold;
  gdouble min_gap = 1.0;
  gdouble min_track = 20.0;
  GText place;
  std::string audio_path;
  std::string list_path;  // empty: standard output
  DetectSettings settings;
};

std::optional<int> refuse(const char* program, const std::string& reason) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program, reason.c_str(), program);
  return EXIT_STATUS_USAGE;
}

// The option values turned into settings; a value is the exit status of a usage error.
std::optional<int> check_values(const char* program, DetectRequest& request) {
  DetectSettings& s = request.settings;
  if (request.tracks != NOT_GIVEN) {
    if (request.tracks < 1) return refuse(program, "--tracks must be 1 or more");
    s.breaks = static_cast<std::size_t>(request.tracks - 1);
  }
  const std::string threshold = request.threshold ? request.threshold.get() : "auto";
  if (threshold != "auto") {
    char* end = nullptr;
    const double db = std::strtod(threshold.c_str(), &end);
    if (end == threshold.c_str() || *end != '\0' || !std::isfinite(db) || db > 0) {
      return refuse(program, "--threshold must be auto or a level in dBFS such as -50");
    }
    s.threshold_db = db;
  }
  if (!(request.min_gap > 0) || request.min_gap > 3600) return refuse(program, "--min-gap must be above 0 seconds");
  if (!(request.min_track >= 0) || request.min_track > 1e6) return refuse(program, "--min-track must be 0 seconds or more");
  s.min_gap_seconds = request.min_gap;
  s.min_track_seconds = request.min_track;
  const std::string place = request.place ? request.place.get() : "onset";
  if (place == "middle") {
    s.placement = Placement::middle;
  } else if (place != "onset") {
    return refuse(program, "--place must be onset or middle");
  }
  return std::nullopt;
}

std::optional<int> parse_request(int argc, char** argv, DetectRequest& request) {
  gchar* threshold = nullptr;
  gchar* place = nullptr;
  const GOptionEntry entries[] = {
      {"tracks", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_INT, &request.tracks,
       "Exactly N tracks: the N-1 best gaps, chosen together", "N"},
      {"threshold", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_STRING, &threshold,
       "Gap level: auto (from the recording's noise floor and music level) or -DB in dBFS", "auto|-DB"},
      {"min-gap", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_DOUBLE, &request.min_gap,
       "Shortest gap that can hold a break (default 1.0)", "SECONDS"},
      {"min-track", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_DOUBLE, &request.min_track,
       "Shortest track; a shorter piece joins its neighbour (default 20)", "SECONDS"},
      {"place", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_STRING, &place,
       "Break before the next track's onset (onset, default) or in the middle of the gap", "onset|middle"},
      {}};
  const std::string summary =
      std::string("Finds the track breaks of AUDIO from its gaps and writes them as a break list: to LIST\n"
                  "(TXT, or CUE or TOC by its extension), which must not exist yet, or as TXT on standard\n"
                  "output. Diagnostics and progress go to standard error.\n\n") +
      EXIT_STATUSES;
  const SubcommandOptions options = {"AUDIO [LIST]", summary.c_str(), entries};
  const std::optional<int> status = cli_parse_options(argc, argv, options);
  request.threshold.reset(threshold);
  request.place.reset(place);
  if (status) return status;
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "Usage: %s [OPTION...] AUDIO [LIST]\n%s\n", argv[0], EXIT_STATUSES);
    return EXIT_STATUS_USAGE;
  }
  if (const std::optional<int> bad = check_values(argv[0], request)) return bad;
  request.audio_path = argv[1];
  if (argc == 3) request.list_path = argv[2];
  return std::nullopt;
}

// The envelope of the audio after its progress; std::nullopt after saying why not.
std::optional<Envelope> read_envelope(const std::string& path, std::string& stem) {
  audio_document_init();
  ErrorText error;
  AudioFilePtr file = format_open_file(path, &error);
  if (file && !format_check_block_layout(file->si, &error)) {
    format_close_file(std::move(file));
  }
  if (!file) {
    std::fprintf(stderr, "Could not open %s: %s\n", path.c_str(), error.value_or("").c_str());
    return std::nullopt;
  }
  GText base(g_path_get_basename(path.c_str()));
  stem = audio_document_make_stem(*file->module, base.get());
  gint64 last = 0;
  progress_line_show(&last, 0.0);
  std::optional<Envelope> envelope = envelope_read(*file, &error, progress_line_show, &last);
  format_close_file(std::move(file));
  if (!envelope) {
    std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "Could not analyze %s: %s\n", path.c_str(), error.value_or("").c_str());
    return std::nullopt;
  }
  std::fputs("\r\033[KAnalyzing... [DONE]\n", stderr);
  return envelope;
}

void print_diagnostics(const Detection& d) {
  std::fprintf(stderr, "Noise floor %.1f dBFS, music level %.1f dBFS\n", d.levels.floor_db, d.levels.music_db);
  if (!d.thresholds.usable) {
    std::fprintf(stderr, "No noise floor apart from the music: no gaps\n");
  } else {
    std::fprintf(stderr, "Threshold %.1f dBFS (%s), gaps end above %.1f dBFS, onsets from %.1f dBFS\n",
                 d.thresholds.gap_db, d.thresholds.automatic ? "auto" : "given", d.thresholds.end_db,
                 d.thresholds.onset_db);
  }
  for (std::size_t i = 0; i < d.breaks.size(); ++i) {
    const DetectedBreak& b = d.breaks[i];
    std::fprintf(stderr, "Break %zu at %s: gap at %s, %.2f s long, %.1f dB deep, confidence %.2f\n", i + 1,
                 format_time_code(b.block, false).c_str(), format_time_code(b.gap_start, false).c_str(),
                 static_cast<double>(b.gap_length) / 75.0, b.depth_db, b.confidence);
  }
}

TrackBreakListPtr break_list(const Detection& d, const std::string& stem) {
  TrackBreakListPtr list = track_break_list_new(stem);
  track_break_list_set_length(*list, d.length);
  track_break_list_add(*list, 1, 0, std::nullopt);
  for (const DetectedBreak& b : d.breaks) track_break_list_add(*list, 1, b.block, std::nullopt);
  return list;
}

// Standard output, or LIST under a temporary name that takes LIST's name only when complete
// and only while nothing has appeared there.
int write_list(const DetectRequest& request, const TrackBreakList& list) {
  GText audio_name(g_path_get_basename(request.audio_path.c_str()));
  const std::string format_path = request.list_path.empty() ? std::string(".txt") : request.list_path;
  const std::string text = track_break_list_text(format_path, audio_name.get(), list);
  if (request.list_path.empty()) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "Could not write the break list: %s\n", g_strerror(errno));
      return EXIT_STATUS_AUDIO_UNREADABLE;
    }
    return EXIT_STATUS_OK;
  }
  std::optional<TemporaryOutput> output = TemporaryOutput::create(request.list_path);
  if (!output) return EXIT_STATUS_AUDIO_UNREADABLE;
  if (std::fwrite(text.data(), 1, text.size(), output->file()) != text.size()) {
    std::fprintf(stderr, "Could not write %s: %s\n", request.list_path.c_str(), g_strerror(errno));
    return EXIT_STATUS_AUDIO_UNREADABLE;
  }
  if (!output->commit_new()) {
    if (errno == EEXIST) std::fprintf(stderr, "%s exists: not replaced\n", request.list_path.c_str());
    return EXIT_STATUS_AUDIO_UNREADABLE;
  }
  return EXIT_STATUS_OK;
}

}  // namespace

int tfold_detect(int argc, char** argv) {
  DetectRequest request;
  if (const std::optional<int> status = parse_request(argc, argv, request)) return *status;
  // Said before the audio is read: a list already there is not replaced.
  if (!request.list_path.empty() && progress_line_path_taken(request.list_path)) {
    std::fprintf(stderr, "%s exists: not replaced\n", request.list_path.c_str());
    return EXIT_STATUS_AUDIO_UNREADABLE;
  }
  std::string stem;
  const std::optional<Envelope> envelope = read_envelope(request.audio_path, stem);
  if (!envelope) return EXIT_STATUS_AUDIO_UNREADABLE;
  const Detection detection = detect_breaks(*envelope, request.settings);
  print_diagnostics(detection);
  const TrackBreakListPtr list = break_list(detection, stem);
  const bool met = !request.settings.breaks || detection.breaks.size() == *request.settings.breaks;
  if (!met) {
    std::fprintf(stderr, "Found %zu of the %d tracks asked for: %zu gaps could hold a break\n",
                 detection.breaks.size() + 1, request.tracks, detection.candidates);
  }
  const int written = write_list(request, *list);
  if (written != EXIT_STATUS_OK) return written;
  return met ? EXIT_STATUS_OK : EXIT_STATUS_TRACK_FAILED;
}
