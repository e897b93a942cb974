#include <cstdio>

#include "cli/commands.h"

int tfold_gen(int /*argc*/, char** argv) {
  std::printf("%s: not available yet\n", argv[0]);
  return 1;
}
