// Test seam: a limit on the size of files this process writes (RLIMIT_FSIZE), so tests can
// make writes fail part-way. Never used by shipped code.
//
// Threads: the limit is the process's; a test sets it while no other thread writes.
#ifndef QK_PLATFORM_TESTING_FILE_LIMIT_TESTING_H
#define QK_PLATFORM_TESTING_FILE_LIMIT_TESTING_H

namespace platform {
namespace testing {

// Limits files to the size (a negative size lifts the limit). The signal's action stays as
// it is: the logger's start-up makes a write past the limit fail with EFBIG. False where
// the system has no such limit.
bool set_file_size_limit(long long bytes);

}  // namespace testing
}  // namespace platform

#endif
