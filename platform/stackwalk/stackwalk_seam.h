// The symbol library the stack walker loads: the system's, unless a test has named another
// (platform/testing/stackwalk_testing.h).
#ifndef QK_PLATFORM_STACKWALK_STACKWALK_SEAM_H
#define QK_PLATFORM_STACKWALK_STACKWALK_SEAM_H

#include <atomic>

namespace platform {
namespace testing {

// nullptr: the system's library.
std::atomic<const char*>& symbol_library_override();
// The file name to load: the override, or the system's name given.
const char* symbol_library(const char* system_name);

}  // namespace testing
}  // namespace platform

#endif
