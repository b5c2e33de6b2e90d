// The one-argument trace and log_stacktrace. Frames of this file never show in a trace
// (its name begins with "stacktrace"), so callers see their own function first.
#include "diag/stacktrace.h"

#include "log/logger.h"

namespace {
LoggerGuard logger_guard;
}

const char* stacktrace(const char* format) { return stacktrace(format, 1); }

void log_stacktrace(int level, const char* format) {
  QK_LOG_AT("stacktrace", __LINE__, level) << stacktrace(format, 1);
}
