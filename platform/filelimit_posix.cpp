// POSIX: a write past the file-size limit fails rather than kills; the test seam for the
// limit itself.
#include <signal.h>
#include <sys/resource.h>

#include "platform/files.h"
#include "platform/internal/file_limit_testing.h"

namespace platform {

namespace {
void writeFails(int) {}
}  // namespace

void fail_writes_past_size_limit() {
  struct sigaction current;
  if (sigaction(SIGXFSZ, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction action = {};
  action.sa_handler = writeFails;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGXFSZ, &action, nullptr);
}

namespace testing {

bool set_file_size_limit(long long bytes) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
  limit.rlim_cur = bytes < 0 ? limit.rlim_max : static_cast<rlim_t>(bytes);
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

}  // namespace testing
}  // namespace platform
