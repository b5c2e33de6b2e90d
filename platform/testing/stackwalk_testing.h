// For tests only: the file name of the symbol library that the first trace loads, in place
// of the system's ("libdw.so.1" on POSIX, "dbghelp.dll" on Windows), so that a test can
// see a process run where the library is missing. Set before the first trace; nullptr
// restores the system's name.
//
// Threads: the name may be set and read from any thread at once.
#ifndef QK_PLATFORM_TESTING_STACKWALK_TESTING_H
#define QK_PLATFORM_TESTING_STACKWALK_TESTING_H

namespace platform {
namespace testing {

void set_symbol_library(const char* file_name);

}  // namespace testing
}  // namespace platform

#endif
