#include "platform/testing/file_limit_testing.h"

namespace platform {
namespace testing {

// Windows has no per-process limit on the size of files.
bool set_file_size_limit(long long) { return false; }

}  // namespace testing
}  // namespace platform
