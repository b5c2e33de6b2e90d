#include <gtest/gtest.h>

#include "tests/support/testsupport.h"

TEST(LauncherSkeleton, PrintsCommandLineForV) {
  testsupport::ScopedEnv root("QK_ROOT", "D:/svc");
  testsupport::ScopedEnv local("QK_LOCAL", "D:/svc");
  testsupport::ScopedEnv jre("QK_JRE_INSTALL_DIR", "C:/jre");
  // No installation key: the logger keeps a private block and writes to standard error.
  testsupport::ScopedEnv no_key("QK_KEY", nullptr);
  testsupport::ScopedEnv nokey("QK_LOG_NOKEY", "1");
  auto r = testsupport::run(testsupport::quote_arg(testsupport::sibling_program("Brimvale")) + " -V");
  EXPECT_EQ(r.exit_code, 9u);
}
