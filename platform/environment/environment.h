// The process environment, as the C runtime keeps it (and, on Windows, in step with the
// operating system's environment block, so that child processes inherit every change).
//
// Threads: reads may come from any thread at once; a change (put_env) must not overlap another call
// on another thread, as with the C runtime's own environment, whose storage get_env hands out.
#ifndef QK_PLATFORM_ENVIRONMENT_ENVIRONMENT_H
#define QK_PLATFORM_ENVIRONMENT_ENVIRONMENT_H

#include <string>
#include <vector>

namespace platform {

// The variable's value, or nullptr. The pointer is the runtime's own storage.
const char* get_env(const char* name);

// _putenv semantics: "NAME=value" sets NAME; "NAME=" removes it. The text is copied.
// Returns 0 on success, else non-zero (and last_error() tells why).
int put_env(const std::string& assignment);

// Every "NAME=value" entry, in the environment's own order.
std::vector<std::string> environment_entries();

}  // namespace platform

#endif
