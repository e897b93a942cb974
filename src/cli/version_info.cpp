// `version` and `info`: the two subcommands that need nothing but the format registry.
#include <cstdio>

#include "cli/commands.h"
#include "cli/options.h"
#include "formats/format.h"
#include "formats/registry.h"
#include "project.h"

namespace {

constexpr const char* LEGAL_NOTICE =
    "This is free software under the MIT licence; see the LICENSE file.\n"
    "There is NO WARRANTY, to the extent permitted by law.";

}  // namespace

int tfold_version(int argc, char** argv) {
  const SubcommandOptions options = {"", "Prints the version and the audio formats this build reads."};
  if (const std::optional<int> status = cli_parse_options(argc, argv, options)) return *status;
  std::printf("tfold %s -- %s\n%s\n", TFOLD_VERSION, TFOLD_WEB_ADDRESS, LEGAL_NOTICE);
  std::printf("\n== Supported file formats ==\n\n");
  format_init();
  format_list_modules();
  return 0;
}

int tfold_info(int argc, char** argv) {
  const SubcommandOptions options = {"FILE...", "Prints the format of each audio file."};
  if (const std::optional<int> status = cli_parse_options(argc, argv, options)) return *status;
  if (argc <= 1) {
    std::printf("Usage: %s [file1.wav] [...]\n", argv[0]);
    return 1;
  }
  format_init();
  for (int i = 1; i < argc; ++i) {
    ErrorText error;
    if (AudioFilePtr file = format_open_file(argv[i], &error)) {
      format_print_info(*file);
      format_close_file(std::move(file));
      std::printf("\n");
    } else {
      std::printf("Error opening %s: %s\n", argv[i], error.value_or("").c_str());
    }
  }
  return 0;
}
