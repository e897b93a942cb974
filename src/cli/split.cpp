#include <cstdio>

#include "cli/commands.h"

int tfold_split(int /*argc*/, char** argv) {
  std::printf("%s: not available yet\n", argv[0]);
  return 1;
}
