#include "cli/options.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct ContextFree {
  void operator()(GOptionContext* context) const noexcept { g_option_context_free(context); }
};
using ContextPtr = std::unique_ptr<GOptionContext, ContextFree>;

// GLib's usage line names the program only; ours names the subcommand too.
void print_help(GOptionContext& context, std::string_view command) {
  std::unique_ptr<char, decltype(&g_free)> text(g_option_context_get_help(&context, TRUE, nullptr),
                                                 g_free);
  std::string help(text.get());
  const std::string program = g_get_prgname() != nullptr ? g_get_prgname() : "";
  const std::size_t at = help.find(program + " [OPTION");
  if (!program.empty() && at != std::string::npos) help.replace(at, program.size(), command);
  std::fputs(help.c_str(), stdout);
}

}  // namespace

std::optional<int> cli_parse_options(int& argc, char**& argv, const SubcommandOptions& options) {
  gboolean help = FALSE;
  const GOptionEntry help_entry[] = {
      {"help", 'h', G_OPTION_FLAG_NONE, G_OPTION_ARG_NONE, &help, "Show help options", nullptr},
      {}};
  ContextPtr context(g_option_context_new(options.parameters));
  g_option_context_set_summary(context.get(), options.summary);
  // GLib's own --help would end the process from inside the parser; ours returns instead.
  g_option_context_set_help_enabled(context.get(), FALSE);
  // Options come first: a name after the positional arguments stays a name, even with a '-'.
  g_option_context_set_strict_posix(context.get(), TRUE);
  g_option_context_add_main_entries(context.get(), help_entry, nullptr);
  if (options.entries != nullptr) g_option_context_add_main_entries(context.get(), options.entries, nullptr);

  // GLib keeps or drops a "--" by rules of its own; here the first "--" among the options
  // ends them and goes, and one after a positional argument is a name like any other.
  int end = 1;
  while (end < argc && std::string_view(argv[end]) != "--") ++end;
  std::vector<char*> front(argv, argv + end);
  int front_count = end;
  char** front_argv = front.data();
  GError* error = nullptr;
  if (!g_option_context_parse(context.get(), &front_count, &front_argv, &error)) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", argv[0], error->message,
                 argv[0]);
    g_error_free(error);
    return 1;
  }
  const int rest_from = (end < argc && front_count == 1) ? end + 1 : end;
  int count = 0;
  for (int i = 0; i < front_count; ++i) argv[count++] = front_argv[i];
  for (int i = rest_from; i < argc; ++i) argv[count++] = argv[i];
  argc = count;
  if (help) {
    print_help(*context, argv[0]);
    return 0;
  }
  return std::nullopt;
}
