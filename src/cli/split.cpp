// tfold split: cut an audio file into one file per track of a break list.
#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "breaks/break_file.h"
#include "breaks/naming.h"
#include "breaks/sheet_audio.h"
#include "breaks/track_break_list.h"
#include "cli/break_rows.h"
#include "cli/commands.h"
#include "cli/metadata_options.h"
#include "cli/options.h"
#include "cli/split_console.h"
#include "document/audio_document.h"
#include "document/split_writer.h"
#include "formats/registry.h"

namespace {

// Both the usage line and --help state them: scripts tell the outcomes apart by them.
constexpr char EXIT_STATUSES[] =
    "Exit status: 0 every selected track written (or kept by the answer), 1 usage,\n"
    "2 audio file unreadable, 3 break list unreadable, 4 no output folder,\n"
    "5 a selected track could not be written.";

struct SplitWait {
  std::mutex mutex;
  std::condition_variable finished;
  int done = 0;
  int failed_tracks = 0;
  int verified_tracks = 0;
};

void console_file_started(int index, int count, const std::string& path, void* /*user_data*/) {
  // Clears the previous track's progress figure.
  if (index != 1) std::fputs("\r\033[K", stdout);
  std::printf("Split %d/%d: %s\n", index, count, path.c_str());
}

void console_progress(void* /*user_data*/, double fraction) {
  std::printf("\r\033[K%3.0f %%", fraction * 100.0);
  std::fflush(stdout);
}

void console_write_error(const std::string& path, void* user_data) {
  g_warning("Error writing file: %s", path.c_str());
  auto* wait = static_cast<SplitWait*>(user_data);
  std::lock_guard lock(wait->mutex);
  ++wait->failed_tracks;
}

void console_finished(void* user_data) {
  std::fputs("\r\033[KSplit finished.\n", stdout);
  std::fflush(stdout);
  auto* wait = static_cast<SplitWait*>(user_data);
  std::lock_guard lock(wait->mutex);
  wait->done = 1;
  wait->finished.notify_one();
}

int console_is_cancelled(void* /*user_data*/) { return 0; }

void console_track_verified(const std::string& /*path*/, void* user_data) {
  auto* wait = static_cast<SplitWait*>(user_data);
  std::lock_guard lock(wait->mutex);
  ++wait->verified_tracks;
}

int console_ask(const std::string& path, void* /*user_data*/) {
  return console_ask_overwrite(path, stdin, stdout, isatty(STDIN_FILENO) != 0);
}

// With standard input closed, the next file opened (the audio) would become descriptor 0 and
// the question would take its bytes for answers; /dev/null there makes it end of input.
void keep_standard_input_apart() {
  if (fcntl(STDIN_FILENO, F_GETFD) != -1 || errno != EBADF) return;
  const int fd = open("/dev/null", O_RDONLY);
  if (fd > STDIN_FILENO) close(fd);
}

// What a job asks of the writer besides the tracks.
struct JobOptions {
  bool tags = false;
  bool gapless = false;
  bool frame_copy = false;
  bool verify = false;
};

// How a job ended: the selected tracks that could not be written (-1 when the job could not
// start), and those read back and found whole.
struct JobOutcome {
  int failed_tracks = 0;
  int verified_tracks = 0;
};

JobOutcome run_job(AudioDocument& document, const TrackBreakList& list, const std::string& folder,
                   const JobOptions& options) {
  SplitWait wait;
  SplitCallbacks callbacks = {console_file_started, console_progress, console_write_error,
                              console_finished,     console_is_cancelled, console_ask,
                              &wait};
  callbacks.track_verified = console_track_verified;
  std::fflush(stdout);
  if (audio_document_start_split(document, list, callbacks, folder, options.tags, options.gapless,
                                 options.frame_copy, options.verify) != 0) {
    return {-1, 0};
  }
  std::unique_lock lock(wait.mutex);
  wait.finished.wait(lock, [&] { return wait.done != 0; });
  return {wait.failed_tracks, wait.verified_tracks};
}

}  // namespace

namespace {

// The next answer's character; with whole_lines, the rest of its line goes with it, so that
// a typed "yes" is one answer and not three.
int read_answer(std::FILE* in, bool whole_lines) {
  const int answer = std::fgetc(in);
  if (!whole_lines) return answer;
  for (int rest = answer; rest != '\n' && rest != EOF;) rest = std::fgetc(in);
  return answer;
}

}  // namespace

int console_ask_overwrite(const std::string& path, std::FILE* in, std::FILE* out, bool whole_lines) {
  for (;;) {
    std::fprintf(out, "\r\033[KFile '%s' exist, overwrite? ([y]es/[n]no/[a]ll/[s]kip all) ",
                 path.c_str());
    std::fflush(out);
    switch (read_answer(in, whole_lines)) {
      case 'y': return OVERWRITE_YES;
      case 'n': return OVERWRITE_NO;
      case 'a': return OVERWRITE_ALL;
      case 's': return OVERWRITE_SKIP_ALL;
      case EOF: return OVERWRITE_SKIP_ALL;
      default: break;
    }
  }
}

namespace {

// What the command line asks for. The option entries point into it: it stays where it is
// while the options are parsed.
struct SplitRequest {
  MetadataOptions metadata;
  gboolean gapless = FALSE;
  gboolean frame_copy = FALSE;
  gboolean verify = FALSE;
  std::string audio_path;
  std::string list_path;
  std::string folder;
};

// Reads the options and the three arguments; a value is the exit status of a command that
// ends here (--help, a usage error).
std::optional<int> parse_request(int argc, char** argv, SplitRequest& request) {
  const GOptionEntry entries[] = {
      request.metadata.name_format_entry(),
      request.metadata.tags_entry(),
      request.metadata.cue_charset_entry(),
      {"gapless", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, &request.gapless,
       "MP3 (layer III): tracks that gapless players decode to exactly their samples", nullptr},
      {"frame-copy", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, &request.frame_copy,
       "FLAC: tracks of the source's own frames, only the partial frames at their ends encoded anew", nullptr},
      {"verify", 0, G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, &request.verify,
       "Each track read back before it takes its name and compared with its range of AUDIO", nullptr},
      {}};
  const std::string summary =
      std::string("Writes each selected track of the break list BREAKS, cut from AUDIO, into OUTDIR.\n"
                  "Without AUDIO, the audio file is the one the cue sheet or TOC file BREAKS names,\n"
                  "or BREAKS itself when it is an audio file that carries its cue sheet.\n\n") +
      EXIT_STATUSES;
  const SubcommandOptions options = {"[AUDIO] BREAKS OUTDIR", summary.c_str(), entries};
  if (const std::optional<int> status = cli_parse_options(argc, argv, options)) return *status;
  if (const std::optional<int> status = request.metadata.check(argv[0])) return *status;
  if (argc != 4 && argc != 3) {
    std::printf("Usage: %s [audio_file.wav] [track_breaks.txt] [output_folder]\n", argv[0]);
    std::printf("%s\n", EXIT_STATUSES);
    return EXIT_STATUS_USAGE;
  }
  if (argc == 3) {
    request.list_path = argv[1];
    request.folder = argv[2];
    return std::nullopt;
  }
  request.audio_path = argv[1];
  request.list_path = argv[2];
  request.folder = argv[3];
  return std::nullopt;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// The audio file of a split given the list alone, as the list names it; a value is the exit
// status of a split that cannot tell which file to cut.
std::optional<int> find_sheet_audio(SplitRequest& request) {
  const SheetAudio audio = sheet_audio_find(request.list_path, request.metadata.reading());
  const char* list = request.list_path.c_str();
  switch (audio.found) {
    case SheetAudio::Found::Named:
    case SheetAudio::Found::Itself:
      request.audio_path = audio.path;
      return std::nullopt;
    case SheetAudio::Found::StandIn:
      g_warning("%s names %s, which is not there; using %s", list, audio.named.c_str(), audio.path.c_str());
      request.audio_path = audio.path;
      return std::nullopt;
    case SheetAudio::Found::Missing:
      std::printf("Could not find the audio file of %s: %s is not there, nor another file of its name that tfold reads\n",
                  list, audio.named.c_str());
      return EXIT_STATUS_AUDIO_UNREADABLE;
    case SheetAudio::Found::Ambiguous:
      std::printf("Could not choose the audio file of %s: %s is not there, and each of %s could be it\n", list,
                  audio.named.c_str(), joined(audio.names).c_str());
      return EXIT_STATUS_AUDIO_UNREADABLE;
    case SheetAudio::Found::SeveralNames:
      std::printf("%s names %zu audio files (%s), one per track; split each with a list of its own\n", list,
                  audio.names.size(), joined(audio.names).c_str());
      return EXIT_STATUS_LIST_UNREADABLE;
    case SheetAudio::Found::NoName:
      std::printf("%s names no audio file; give it before the list: AUDIO BREAKS OUTDIR\n", list);
      return EXIT_STATUS_LIST_UNREADABLE;
    case SheetAudio::Found::Unreadable:
      std::printf("Could not open/parse %s\n", list);
      return EXIT_STATUS_LIST_UNREADABLE;
  }
  return EXIT_STATUS_LIST_UNREADABLE;
}

// The audio opened and measured, after its information block; nullptr after saying why not.
AudioDocumentPtr open_measured(const std::string& audio_path) {
  std::printf("Using audio file: %s\n", audio_path.c_str());
  ErrorText error;
  // The split needs the length only: a file that states it exactly is not read through.
  AudioDocumentPtr document = audio_document_open(audio_path, &error, DocumentAnalysis::length);
  if (!document) {
    std::printf("Could not open %s: %s\n", audio_path.c_str(), error.value_or("").c_str());
    return nullptr;
  }
  audio_document_print_info(*document);
  std::printf("Scanning audio file...\n");
  std::fflush(stdout);
  audio_document_wait_analyzed(*document);
  // A file whose audio could not be read has no length to split by.
  if (const ErrorText failure = audio_document_get_error(*document)) {
    std::printf("Could not analyze %s: %s\n", audio_path.c_str(), failure->c_str());
    return nullptr;
  }
  std::printf("File analyzed, %" PRIu64 " blocks\n", audio_document_get_block_count(*document));
  return document;
}

// A usage error (its status) when --frame-copy is asked of a source whose format has no
// frames to copy.
std::optional<int> check_frame_copy(const AudioDocument& document, const SplitRequest& request) {
  const FormatModule& module = *document.audio_file->module;
  if (request.frame_copy == FALSE || module.copies_frames) return std::nullopt;
  std::fprintf(stderr, "--frame-copy applies to %s sources only; %s is %s\n",
               format_frame_copy_names().c_str(), request.audio_path.c_str(), module.name);
  return EXIT_STATUS_USAGE;
}

// The break list, bounded by the document's length, after its table; nullptr after saying
// it could not be read or gives no track.
TrackBreakListPtr read_breaks(const AudioDocument& document, const SplitRequest& request) {
  TrackBreakListPtr list = track_break_list_new(audio_document_get_stem(document));
  track_break_list_set_length(*list, audio_document_get_block_count(document));
  request.metadata.apply(*list);
  std::printf("Using track break list: %s\n", request.list_path.c_str());
  if (track_break_list_read(request.list_path, *list, request.metadata.reading()) == 0) {
    std::printf("Could not open/parse %s\n", request.list_path.c_str());
    return nullptr;
  }
  // A file that gives no track to write (no sheet, a list never closed, text in another
  // encoding, whose stray lines read as unselected breaks at most) must not pass for a split
  // that worked.
  if (std::none_of(list->breaks.begin(), list->breaks.end(), [](const TrackBreak& brk) { return brk.write != 0; })) {
    std::printf("no tracks in %s\n", request.list_path.c_str());
    return nullptr;
  }
  std::printf("Track breaks:\n");
  track_break_list_foreach(*list, print_break_row, nullptr);
  std::printf("\n");
  return list;
}

int selected_tracks(const TrackBreakList& list) {
  return static_cast<int>(
      std::count_if(list.breaks.begin(), list.breaks.end(), [](const TrackBreak& brk) { return brk.write != 0; }));
}

// Writes the tracks and tells how the job ended.
int write_tracks(AudioDocumentPtr document, const TrackBreakList& list, const SplitRequest& request) {
  std::printf("Using output folder: %s\n", request.folder.c_str());
  const JobOptions options = {request.metadata.tags != FALSE, request.gapless != FALSE, request.frame_copy != FALSE,
                              request.verify != FALSE};
  const JobOutcome outcome = run_job(*document, list, request.folder, options);
  const int failed_tracks = outcome.failed_tracks;
  // The document joins the writer thread before it closes the file; the list goes after it.
  audio_document_close(std::move(document));
  if (failed_tracks < 0) {
    // Nothing was written: that must not pass for a job that wrote every track.
    std::fprintf(stderr, "Could not start writing the tracks\n");
    return EXIT_STATUS_TRACK_FAILED;
  }
  // The check's summary comes after the split's own, as its last line.
  if (options.verify) {
    std::printf("Verified %d of %d tracks\n", outcome.verified_tracks, selected_tracks(list));
  }
  // A script must be able to tell a job that lost tracks from one that wrote them all, also
  // tracks the list placed beyond the recording's end.
  return failed_tracks > 0 || list.written_tracks_left_out > 0 ? EXIT_STATUS_TRACK_FAILED : EXIT_STATUS_OK;
}

}  // namespace

int tfold_split(int argc, char** argv) {
  SplitRequest request;
  if (const std::optional<int> status = parse_request(argc, argv, request)) return *status;
  keep_standard_input_apart();
  audio_document_init();
  if (!g_file_test(request.folder.c_str(), G_FILE_TEST_IS_DIR)) {
    // A file given where the folder belongs is there, only no folder.
    std::printf(g_file_test(request.folder.c_str(), G_FILE_TEST_EXISTS) ? "Not a directory: '%s'\n"
                                                                         : "Directory does not exist: '%s'\n",
                request.folder.c_str());
    return EXIT_STATUS_NO_OUTPUT_FOLDER;
  }
  if (request.audio_path.empty()) {
    if (const std::optional<int> status = find_sheet_audio(request)) return *status;
  }
  AudioDocumentPtr document = open_measured(request.audio_path);
  if (!document) return EXIT_STATUS_AUDIO_UNREADABLE;
  if (const std::optional<int> status = check_frame_copy(*document, request)) return *status;
  const TrackBreakListPtr list = read_breaks(*document, request);
  if (!list) return EXIT_STATUS_LIST_UNREADABLE;
  return write_tracks(std::move(document), *list, request);
}
