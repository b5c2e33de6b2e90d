// Runs one scenario of the disabled suite ChildScenario in a child copy of the running test
// program: the way the log tests check paths that end the process.
#ifndef QK_LOG_TEST_CHILD_H
#define QK_LOG_TEST_CHILD_H

#include <string>

#include "platform/process.h"
#include "tests/support/testsupport.h"

namespace logtest {

// The child's exit code and output, its standard error with Windows' CR LF read as LF.
inline testsupport::Run runChild(const std::string& scenario) {
  testsupport::Run r = testsupport::run(
      testsupport::quote_arg(platform::program_path()) +
      " --gtest_also_run_disabled_tests --gtest_filter=DISABLED_ChildScenario." + scenario);
  std::string err;
  for (std::size_t i = 0; i < r.err.size(); ++i)
    if (!(r.err[i] == '\r' && i + 1 < r.err.size() && r.err[i + 1] == '\n')) err += r.err[i];
  r.err = err;
  return r;
}

}  // namespace logtest

#endif
