// Runs one scenario of the disabled suite ChildScenario in a child copy of the running test
// program: the way the log tests check paths that end the process.
#ifndef QK_TESTS_SUPPORT_TEST_CHILD_H
#define QK_TESTS_SUPPORT_TEST_CHILD_H

#include <string>

#include "platform/process.h"
#include "tests/support/testsupport.h"

namespace logtest {

// The child's exit code and output, its standard error with Windows' CR LF read as LF.
inline testsupport::Run runChild(const std::string& scenario) {
  testsupport::Run r = testsupport::run(
      testsupport::quote_arg(platform::program_path()) +
      " --gtest_also_run_disabled_tests --gtest_filter=DISABLED_ChildScenario." + scenario);
  r.err = testsupport::unix_lines(r.err);
  return r;
}

}  // namespace logtest

#endif
