// Windows has no per-process limit on the size of files: nothing to prepare.
#include "platform/files/files.h"

namespace platform {

void fail_writes_past_size_limit() {}

}  // namespace platform
