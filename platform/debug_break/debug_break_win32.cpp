// IsDebuggerPresent and DebugBreak: the breakpoint is taken only when a debugger will
// catch it, so that a process without one goes on.
#include "platform/debug_break/debug_break.h"

#include <windows.h>

namespace platform {

bool debugger_attached() { return IsDebuggerPresent() != 0; }

void debug_break_if_attached() {
  if (IsDebuggerPresent()) DebugBreak();
}

}  // namespace platform
