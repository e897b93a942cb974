#include <cstdio>
#include <string>

#include "breaks/break_file.h"
#include "breaks/naming.h"
#include "breaks/sheet_audio.h"
#include "breaks/track_break_list.h"
#include "cli/break_rows.h"
#include "cli/commands.h"
#include "cli/metadata_options.h"
#include "cli/options.h"

namespace {

// The list file's path up to its last '.', wherever that lies; the directory part stays, so
// the generated names show where a split beside the list would put its files.
std::string base_name_of(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  return dot == std::string::npos ? path : path.substr(0, dot);
}

// The audio file a split given only this list would cut, for a list that names one.
void print_sheet_audio(const std::string& path, const BreakFileReading& reading) {
  const SheetAudio audio = sheet_audio_find(path, reading);
  std::string names;
  for (const std::string& name : audio.names) names += (names.empty() ? "" : ", ") + name;
  switch (audio.found) {
    case SheetAudio::Found::Named:
    case SheetAudio::Found::Itself:
      std::printf("Audio file: %s\n", audio.path.c_str());
      break;
    case SheetAudio::Found::StandIn:
      std::printf("Audio file: %s (the list names %s, which is not there)\n", audio.path.c_str(), audio.named.c_str());
      break;
    case SheetAudio::Found::Missing:
      std::printf("Audio file: %s (not there)\n", audio.named.c_str());
      break;
    case SheetAudio::Found::Ambiguous:
      std::printf("Audio file: %s (not there; each of %s could be it)\n", audio.named.c_str(), names.c_str());
      break;
    case SheetAudio::Found::SeveralNames:
      std::printf("Audio files: %s (one per track)\n", names.c_str());
      break;
    case SheetAudio::Found::NoName:
    case SheetAudio::Found::Unreadable:
      break;
  }
}

}  // namespace

int tfold_list(int argc, char** argv) {
  MetadataOptions metadata;
  const GOptionEntry entries[] = {metadata.name_format_entry(), metadata.cue_charset_entry(), {}};
  const SubcommandOptions options = {
      "FILE...", "Prints each track-break list (TXT, CUE or TOC) as a numbered table.", entries};
  if (const std::optional<int> status = cli_parse_options(argc, argv, options)) return *status;
  if (const std::optional<int> status = metadata.check(argv[0])) return *status;
  const BreakFileReading reading = metadata.reading();
  if (argc < 2) {
    std::printf("Usage: %s [filename.txt|filename.cue|filename.toc] ...\n", argv[0]);
    return 1;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string path = argv[i];
    TrackBreakListPtr list = track_break_list_new(base_name_of(path));
    // A break list alone does not tell how long the recording is.
    track_break_list_set_length(*list, NO_END);
    metadata.apply(*list);
    if (track_break_list_read(path, *list, reading) == 0) {
      std::printf("Could not parse file\n");
      return 2;
    }
    std::printf("== %s ==\n", path.c_str());
    print_sheet_audio(path, reading);
    track_break_list_foreach(*list, print_break_row, nullptr);
    std::printf("\n");
  }
  return 0;
}
