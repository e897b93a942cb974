#include <glib.h>

#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "cli/commands.h"
#include "settings/settings.h"

namespace {

constexpr Subcommand SUBCOMMANDS[] = {
    {"list", tfold_list, "List track breaks from file (TXT/CUE/TOC)"},
    {"analyze", tfold_analyze, "Open, analyze and preview audio file"},
    {"split", tfold_split, "Split an audio file using a track break list to a folder"},
    {"gen", tfold_gen, "Generate example WAV files (formerly 'tonesmith')"},
    {"info", tfold_info, "Print audio format information (WAV/MP2/MP3/OGG/FLAC) (formerly 'headpeek')"},
    {"merge", tfold_merge, "Merge multiple WAV files into a single file (formerly 'joinery')"},
    {"detect", tfold_detect, "Find the track breaks of a recording and write a break list"},
    {"plot", tfold_plot, "Draw the waveform of a recording with its track breaks (PNG/SVG)"},
    {"version", tfold_version, "Print version and software information"},
};

int print_usage(const char* program) {
  std::printf("Usage: %s SUBCOMMAND <options>\n\n", program);
  std::printf("tfold(1) is the command-line interface for trackfold(1).\n\n");
  std::printf("Valid SUBCOMMANDs are:\n\n");
  for (const Subcommand& row : SUBCOMMANDS) {
    std::printf("  %-10s  ..... %s\n", row.name, row.description);
  }
  std::printf("\n");
  return 1;
}

const Subcommand* find_subcommand(const char* name) {
  for (const Subcommand& row : SUBCOMMANDS) {
    if (std::strcmp(row.name, name) == 0) return &row;
  }
  return nullptr;
}

}  // namespace

int tfold_main(int argc, char** argv) {
  g_set_prgname(argv[0]);
  settings_load();
  if (argc < 2) return print_usage(argv[0]);
  const Subcommand* command = find_subcommand(argv[1]);
  if (command == nullptr) return print_usage(argv[0]);

  // Handlers print argv[0] in their usage lines, so it names program and subcommand.
  std::string combined = std::string(argv[0]) + " " + argv[1];
  char* const keyword = argv[1];
  argv[1] = combined.data();
  const int status = command->handler(argc - 1, argv + 1);
  argv[1] = keyword;
  return status;
}
