// Tables of tfold runs that must each end by themselves with a given status and texts: the
// shape of every test of refused input.
#pragma once

#include <string>
#include <vector>

#include "support/harness.h"

namespace tfold_test {

struct CommandCase {
  const char* what;
  std::vector<std::string> args;
  int status;
  std::string out_part;  // expected within standard output
  std::string err_part = {};  // expected within standard error
};

// Runs every case in t, 30 seconds at most each, and checks how it ended.
void expect_command_cases(const Tfold& t, const std::vector<CommandCase>& cases);

}  // namespace tfold_test
