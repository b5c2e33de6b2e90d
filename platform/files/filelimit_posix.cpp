// POSIX: a write past the file-size limit fails rather than kills.
#include <signal.h>
#include <sys/resource.h>

#include "platform/files/files.h"

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

}  // namespace platform
