#include "support/command_cases.h"

#include <gtest/gtest.h>

#include <chrono>

namespace tfold_test {

void expect_command_cases(const Tfold& t, const std::vector<CommandCase>& cases) {
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.what);
    RunOptions options;
    options.timeout = std::chrono::seconds(30);
    const RunResult r = t.run(c.args, options);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(r.out.find(c.out_part), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err;
  }
}

}  // namespace tfold_test
