// The log tests' own installation. The logger starts during static initialisation, and its
// first settings lookup needs an installation root and a local folder, so this object is
// made before every other (init_priority) and the children of the tests inherit it. Without
// an installation key the logger's block is private, and records go to standard error
// unless a test attaches a block of its own. A child that is to start in another log mode
// names its program in QK_TEST_PROGRAM_NAME ("BSTRAP:name:file").
#include "log/logger.h"
#include "platform/environment.h"
#include "tests/support/testsupport.h"

namespace {

struct TestInstallation {
  TestInstallation() {
    if (!platform::get_env("QK_ROOT")) {
      testsupport::make_dirs(dir.path() + "/root");
      testsupport::make_dirs(dir.path() + "/local");
      testsupport::set_env("QK_ROOT", (dir.path() + "/root").c_str());
      testsupport::set_env("QK_LOCAL", (dir.path() + "/local").c_str());
    }
    if (!platform::get_env("QK_KEY")) testsupport::set_env("QK_LOG_NOKEY", "1");
    if (const char* name = platform::get_env("QK_TEST_PROGRAM_NAME")) setProcessName(name);
  }
  testsupport::TempDir dir;
};

__attribute__((init_priority(101))) TestInstallation test_installation;

}  // namespace
