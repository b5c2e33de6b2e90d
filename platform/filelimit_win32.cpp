// Windows has no per-process limit on the size of files: nothing to prepare, nothing to set.
#include "platform/files.h"
#include "platform/internal/file_limit_testing.h"

namespace platform {

void fail_writes_past_size_limit() {}

namespace testing {

// Windows has no per-process limit on the size of files.
bool set_file_size_limit(long long) { return false; }

}  // namespace testing
}  // namespace platform
