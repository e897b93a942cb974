// tfold plot: a picture of a recording's waveform with the breaks of a list, or those detect
// would find, for checking a list by eye.
#include <glib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "breaks/break_file.h"
#include "breaks/time_code.h"
#include "breaks/track_break_list.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/progress_line.h"
#include "detect/detector.h"
#include "document/audio_document.h"
#include "formats/registry.h"
#include "io/temporary_output.h"
#include "plot/layout.h"
#include "plot/marks.h"
#include "plot/pass.h"
#include "plot/render.h"
#include "plot/time_option.h"
#include "settings/settings.h"

namespace {

constexpr char EXIT_STATUSES[] = "Exit status: 0 written, 1 usage, 2 AUDIO or LIST unreadable or IMAGE not writable.";
constexpr gint DEFAULT_WIDTH = 1600;
constexpr gint DEFAULT_HEIGHT = 400;
// Larger pictures would take hundreds of megabytes to draw.
constexpr gint MAX_WIDTH = 16384;
constexpr gint MAX_HEIGHT = 4096;
constexpr double MIN_TICK_PIXELS = 90;

struct GFreeDeleter {
  void operator()(gchar* text) const noexcept { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

// What the command line asks for. The option entries point into it.
struct PlotRequest {
  gint width = DEFAULT_WIDTH;
  gint height = DEFAULT_HEIGHT;
  GText from_text;
  GText to_text;
  gboolean channels = FALSE;
  gboolean detect = FALSE;
  gboolean no_mood = FALSE;
  std::optional<std::uint64_t> from;  // blocks
  std::optional<std::uint64_t> to;
  std::string audio_path;
  std::string list_path;  // empty: no list
  std::string image_path;
  PlotImageFormat format = PlotImageFormat::png;
};

std::optional<int> refuse(const char* program, const std::string& reason) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program, reason.c_str(), program);
  return EXIT_STATUS_USAGE;
}

bool ends_with(const std::string& text, const char* suffix) {
  const std::size_t length = std::strlen(suffix);
  return text.size() > length && g_ascii_strcasecmp(text.c_str() + text.size() - length, suffix) == 0;
}

std::optional<int> check_times(const char* program, PlotRequest& request) {
  if (request.from_text) {
    request.from = plot_parse_time(request.from_text.get());
    if (!request.from) return refuse(program, "--from must be a time such as 12:34.56, 12:34:56 or 56592 (blocks)");
  }
  if (request.to_text) {
    request.to = plot_parse_time(request.to_text.get());
    if (!request.to) return refuse(program, "--to must be a time such as 12:34.56, 12:34:56 or 56592 (blocks)");
  }
  if (request.from && request.to && *request.from >= *request.to) return refuse(program, "--from must lie before --to");
  return std::nullopt;
}

// The option values checked; a value is the exit status of a usage error.
std::optional<int> check_values(const char* program, PlotRequest& request) {
  if (request.width < static_cast<gint>(PLOT_MIN_SIZE) || request.width > MAX_WIDTH) {
    return refuse(program, "--width must be 100 to 16384 pixels");
  }
  if (request.height < static_cast<gint>(PLOT_MIN_SIZE) || request.height > MAX_HEIGHT) {
    return refuse(program, "--height must be 100 to 4096 pixels");
  }
  if (ends_with(request.image_path, ".svg")) {
    request.format = PlotImageFormat::svg;
  } else if (!ends_with(request.image_path, ".png")) {
    return refuse(program, "IMAGE must end in .png or .svg");
  }
  return check_times(program, request);
}

std::optional<int> parse_request(int argc, char** argv, PlotRequest& request) {
  gchar* from = nullptr;
  gchar* to = nullptr;
  const GOptionEntry entries[] = {
      {"width", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_INT, &request.width, "Width of the picture (default 1600)", "PIXELS"},
      {"height", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_INT, &request.height, "Height of the picture (default 400)",
       "PIXELS"},
      {"from", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_STRING, &from, "Start the picture here (default: the start)", "TIME"},
      {"to", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_STRING, &to, "End the picture here (default: the end)", "TIME"},
      {"channels", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, &request.channels, "Draw each channel's waveform", nullptr},
      {"detect", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, &request.detect,
       "Also mark the breaks and gaps that detect finds with its defaults", nullptr},
      {"no-mood", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, &request.no_mood,
       "Draw the waveform in one colour, without the mood bar", nullptr},
      {}};
  const std::string summary =
      std::string("Draws the waveform of AUDIO into IMAGE (.png or .svg), which must not exist yet, with the\n"
                  "breaks of LIST (TXT, CUE or TOC, or an audio file carrying its cue sheet): each break a line\n"
                  "with its track number and output name, the tracks a split does not write shaded. TIME is a\n"
                  "block count as TXT lists give it, M:SS:FF as in cue sheets, or M:SS.FF as list shows it.\n"
                  "With the show_moodbar setting (the default) the waveform is coloured by its low, middle and\n"
                  "high frequencies (red, green, blue). Progress goes to standard error.\n\n") +
      EXIT_STATUSES;
  const SubcommandOptions options = {"AUDIO [LIST] IMAGE", summary.c_str(), entries};
  const std::optional<int> status = cli_parse_options(argc, argv, options);
  request.from_text.reset(from);
  request.to_text.reset(to);
  if (status) return status;
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "Usage: %s [OPTION...] AUDIO [LIST] IMAGE\n%s\n", argv[0], EXIT_STATUSES);
    return EXIT_STATUS_USAGE;
  }
  request.audio_path = argv[1];
  if (argc == 4) request.list_path = argv[2];
  request.image_path = argv[argc - 1];
  return check_values(argv[0], request);
}

// The opened audio and the frames it holds; after saying why not, nothing.
struct OpenedAudio {
  AudioFilePtr file;
  std::uint64_t frames = 0;
  std::string stem;
};

std::optional<OpenedAudio> open_audio(const std::string& path) {
  audio_document_init();
  ErrorText error;
  OpenedAudio audio;
  audio.file = format_open_file(path, &error);
  if (audio.file && !format_check_block_layout(audio.file->si, &error)) format_close_file(std::move(audio.file));
  std::optional<std::uint64_t> frames;
  if (audio.file) {
    const SampleInfo& si = audio.file->si;
    // A file that does not state its length is read through once to learn it.
    frames = audio.file->exact_length ? si.numBytes / si.blockAlign : plot_count_frames(*audio.file, &error);
  }
  if (!frames) {
    std::fprintf(stderr, "Could not open %s: %s\n", path.c_str(), error.value_or("").c_str());
    return std::nullopt;
  }
  audio.frames = *frames;
  GText base(g_path_get_basename(path.c_str()));
  audio.stem = audio_document_make_stem(*audio.file->module, base.get());
  return audio;
}

// The list bounded by the recording's length, named as split names its tracks.
TrackBreakListPtr read_list(const std::string& path, const OpenedAudio& audio) {
  TrackBreakListPtr list = track_break_list_new(audio.stem);
  track_break_list_set_length(*list, format_block_count(audio.frames, audio.file->si.samplesPerSec));
  if (track_break_list_read(path, *list) == 0) {
    std::fprintf(stderr, "Could not open/parse %s\n", path.c_str());
    return nullptr;
  }
  return list;
}

// The frames the picture shows; a usage error's status when --from lies beyond the end.
std::optional<int> choose_view(const char* program, const PlotRequest& request, const OpenedAudio& audio,
                               PlotView& view) {
  const std::uint32_t rate = audio.file->si.samplesPerSec;
  view.width = static_cast<std::uint32_t>(request.width);
  view.first = request.from ? format_block_sample(*request.from, rate) : 0;
  view.end = request.to ? std::min(format_block_sample(*request.to, rate), audio.frames) : audio.frames;
  // An empty recording still gets its picture: a frame wide, and empty.
  if (audio.frames == 0 && view.first == 0) view.end = 1;
  if (view.first >= view.end) {
    return refuse(program, "--from lies beyond the end of the recording (" +
                               format_time_code(format_block_count(audio.frames, rate) - 1, false) + ")");
  }
  return std::nullopt;
}

std::optional<PlotPassResult> read_pass(OpenedAudio& audio, const PlotPassRequest& pass, const std::string& path) {
  ErrorText error;
  gint64 last = 0;
  progress_line_show(&last, 0.0);
  std::optional<PlotPassResult> result = plot_read(*audio.file, pass, &error, progress_line_show, &last);
  if (!result) {
    std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "Could not analyze %s: %s\n", path.c_str(), error.value_or("").c_str());
    return std::nullopt;
  }
  std::fputs("\r\033[KAnalyzing... [DONE]\n", stderr);
  return result;
}

// IMAGE under a temporary name that takes its name only when complete and only while nothing
// has appeared there.
int write_image(const PlotRequest& request, const PlotPicture& picture) {
  std::optional<TemporaryOutput> output = TemporaryOutput::create(request.image_path);
  if (!output) return EXIT_STATUS_AUDIO_UNREADABLE;
  ErrorText error;
  const bool drawn = plot_write_image(picture, request.format, output->file(), &error);
  plot_release_fonts();
  if (!drawn) {
    std::fprintf(stderr, "Could not write %s: %s\n", request.image_path.c_str(), error.value_or("").c_str());
    return EXIT_STATUS_AUDIO_UNREADABLE;
  }
  if (!output->commit_new()) {
    if (errno == EEXIST) std::fprintf(stderr, "%s exists: not replaced\n", request.image_path.c_str());
    return EXIT_STATUS_AUDIO_UNREADABLE;
  }
  return EXIT_STATUS_OK;
}

PlotPicture make_picture(const PlotRequest& request, const PlotView& view, std::uint32_t rate, PlotPassResult pass) {
  PlotPicture picture;
  picture.width = static_cast<std::uint32_t>(request.width);
  picture.height = static_cast<std::uint32_t>(request.height);
  picture.waveforms = std::move(pass.waveforms);
  picture.full_scale = pass.full_scale;
  const double frames_per_column = static_cast<double>(view.frames()) / view.width;
  if (!pass.mood.empty()) picture.colours = mood_colours(pass.mood, mood_neighbours(frames_per_column, rate));
  plot_mark_ticks(picture, view, rate, MIN_TICK_PIXELS);
  if (pass.envelope) plot_mark_detection(picture, view, rate, detect_breaks(*pass.envelope, DetectSettings{}));
  return picture;
}

}  // namespace

int tfold_plot(int argc, char** argv) {
  PlotRequest request;
  if (const std::optional<int> status = parse_request(argc, argv, request)) return *status;
  // Said before the audio is read: an image already there is not replaced.
  if (progress_line_path_taken(request.image_path)) {
    std::fprintf(stderr, "%s exists: not replaced\n", request.image_path.c_str());
    return EXIT_STATUS_AUDIO_UNREADABLE;
  }
  std::optional<OpenedAudio> audio = open_audio(request.audio_path);
  if (!audio) return EXIT_STATUS_AUDIO_UNREADABLE;
  TrackBreakListPtr list;
  if (!request.list_path.empty() && !(list = read_list(request.list_path, *audio))) return EXIT_STATUS_AUDIO_UNREADABLE;
  PlotPassRequest pass{{}, request.channels != FALSE, request.no_mood == FALSE && get_show_moodbar() != 0,
                       request.detect != FALSE};
  if (const std::optional<int> status = choose_view(argv[0], request, *audio, pass.view)) return *status;
  std::optional<PlotPassResult> result = read_pass(*audio, pass, request.audio_path);
  const std::uint32_t rate = audio->file->si.samplesPerSec;
  format_close_file(std::move(audio->file));
  if (!result) return EXIT_STATUS_AUDIO_UNREADABLE;
  PlotPicture picture = make_picture(request, pass.view, rate, std::move(*result));
  if (list) plot_mark_list(picture, pass.view, rate, *list);
  return write_image(request, picture);
}
