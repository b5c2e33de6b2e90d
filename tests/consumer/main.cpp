// Uses the framework through its installed headers, with the same include lines as the
// framework's own code.
#include <iostream>

#include "env/env.h"
#include "log/logger.h"
#include "platform/stackwalk/stacktrace_seam.h"

namespace {
LoggerGuard logger_guard;
}

#ifdef QK_CONSUMER_WINDOWS
int windows_first_level();
int windows_last_level();
#endif

int main() {
  const char* root = env_lookup("QK_ROOT", 0);
  std::cout << "root=" << (root ? root : "") << std::endl;
#ifdef QK_CONSUMER_WINDOWS
  if (windows_first_level() != SEVERE_ERROR || windows_last_level() != MILESTONE) return 3;
#endif
  // The stack-trace engine comes with QK::qk: the first frame is this function.
  std::cout << "trace=" << platform::stack_text("%s;") << std::endl;
  std::cout << "where=" << platform::stack_text("%f:%l;") << std::endl;
  QK_LOG_AT("consumer", __LINE__, MILESTONE) << "consumer ran";
  return 0;
}
