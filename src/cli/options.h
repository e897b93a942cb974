// The options of one subcommand, read with GLib's option parser in front of its positional
// arguments, so that every subcommand answers --help and refuses options it does not know.
#pragma once

#include <glib.h>

#include <optional>

struct SubcommandOptions {
  const char* parameters;  // the positional arguments as the help's usage line shows them
  const char* summary;     // the paragraph under the usage line
  const GOptionEntry* entries = nullptr;  // null-terminated, or null for a subcommand without options
};

// Reads the options at the front of argv (argv[0] is "PROGRAM SUBCOMMAND"); options stop at the
// first positional argument or at "--". On return argv holds argv[0] and the positional
// arguments only. A value is the exit status of a command that ends here: 0 after --help
// (printed on standard output), 1 after an unknown or malformed option (reported on standard
// error); std::nullopt when the subcommand goes on.
std::optional<int> cli_parse_options(int& argc, char**& argv, const SubcommandOptions& options);
