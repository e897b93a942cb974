// The subcommands of tfold. Each handler takes the arguments from the subcommand on
// (argv[0] is "PROGRAM SUBCOMMAND") and returns the process exit status.
#pragma once

// The exit statuses that subcommands share: scripts tell the outcomes of a job apart by them.
enum ExitStatus : int {
  EXIT_STATUS_OK = 0,
  EXIT_STATUS_USAGE = 1,
  EXIT_STATUS_AUDIO_UNREADABLE = 2,
  EXIT_STATUS_LIST_UNREADABLE = 3,
  EXIT_STATUS_NO_OUTPUT_FOLDER = 4,
  EXIT_STATUS_TRACK_FAILED = 5,  // the job ran, but a selected track could not be written
};

using SubcommandHandler = int (*)(int argc, char** argv);

struct Subcommand {
  const char* name;
  SubcommandHandler handler;
  const char* description;
};

int tfold_list(int argc, char** argv);
int tfold_analyze(int argc, char** argv);
int tfold_split(int argc, char** argv);
int tfold_gen(int argc, char** argv);
int tfold_info(int argc, char** argv);
int tfold_merge(int argc, char** argv);
int tfold_version(int argc, char** argv);
int tfold_detect(int argc, char** argv);
int tfold_plot(int argc, char** argv);

// The entry point: sets the program name, loads the settings, dispatches.
int tfold_main(int argc, char** argv);
