// The default program name: a program that does not name itself logs under its
// executable's base name.
#include <gtest/gtest.h>

#include "log/detail/logstate.h"
#include "log/logger.h"

namespace {

TEST(ProgramName, IsTheExecutablesBaseNameWithoutExe) {
  // The test program defines no program_name of its own; the start-up (made by the first
  // LoggerGuard) took its file name, on Windows without ".exe".
  ASSERT_NE(stdlog, nullptr);
  EXPECT_STREQ(defaultProgramName(), "log_tests");
  EXPECT_STREQ(log_process.process_name, "log_tests");
}

}  // namespace
