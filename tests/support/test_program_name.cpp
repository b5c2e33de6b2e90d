// A child of a log test that is to start in another log mode names its program in
// QK_TEST_PROGRAM_NAME ("BSTRAP:name:file"); the name must be set before the logger starts
// during static initialisation. (The installation itself comes from the test programs'
// shared scratch installation.)
#include "log/logger.h"
#include "platform/environment/environment.h"

namespace {

struct TestProgramName {
  TestProgramName() {
    if (const char* name = platform::get_env("QK_TEST_PROGRAM_NAME")) setProcessName(name);
  }
};

__attribute__((init_priority(101))) TestProgramName test_program_name;

}  // namespace
