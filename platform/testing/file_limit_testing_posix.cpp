#include <sys/resource.h>

#include "platform/testing/file_limit_testing.h"

namespace platform {
namespace testing {

bool set_file_size_limit(long long bytes) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
  limit.rlim_cur = bytes < 0 ? limit.rlim_max : static_cast<rlim_t>(bytes);
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

}  // namespace testing
}  // namespace platform
