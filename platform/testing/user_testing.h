// Test seam: runs a program as another, unprivileged user, to see what a process of
// another user of an installation does to it. Never used by shipped code.
//
// Threads: for a test's own thread.
#ifndef QK_PLATFORM_TESTING_USER_TESTING_H
#define QK_PLATFORM_TESTING_USER_TESTING_H

#include <string>
#include <vector>

namespace platform {
namespace testing {

struct OtherUserRun {
  int exit_code = -1;  // 128 + N for a program ended by signal N
  std::string err;     // its standard error
};

// Runs the program (argv[0], a path) with the arguments as the user and group 65534 with
// the current environment, and waits for it. False when this process may not switch
// users (only root may; Windows has no such switch).
bool run_as_other_user(const std::vector<std::string>& argv, OtherUserRun* run);

}  // namespace testing
}  // namespace platform

#endif
