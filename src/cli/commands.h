// The subcommands of tfold. Each handler takes the arguments from the subcommand on
// (argv[0] is "PROGRAM SUBCOMMAND") and returns the process exit status.
#pragma once

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

// The entry point: sets the program name, loads the settings, dispatches.
int tfold_main(int argc, char** argv);
