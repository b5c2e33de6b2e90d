// A debugger attached through ptrace shows as a non-zero TracerPid in /proc/self/status;
// SIGTRAP stops it at the caller.
#include "platform/debug_break/debug_break.h"

#include <csignal>
#include <cstdio>
#include <cstring>

namespace platform {

bool debugger_attached() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return false;
  char line[256];
  long tracer = 0;
  while (std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, "TracerPid:", 10) == 0) {
      if (std::sscanf(line + 10, "%ld", &tracer) != 1) tracer = 0;
      break;
    }
  }
  std::fclose(status);
  return tracer != 0;
}

void debug_break_if_attached() {
  if (debugger_attached()) std::raise(SIGTRAP);
}

}  // namespace platform
