// Stopping an attached debugger at the point of a reported misuse.
//
// Threads: every call may come from any thread at once.
#ifndef QK_PLATFORM_DEBUG_BREAK_DEBUG_BREAK_H
#define QK_PLATFORM_DEBUG_BREAK_DEBUG_BREAK_H

namespace platform {

// True when a debugger is attached to the process.
bool debugger_attached();

// Stops an attached debugger here; without one, does nothing and the caller goes on.
void debug_break_if_attached();

}  // namespace platform

#endif
