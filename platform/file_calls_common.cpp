// The table of the log writer's file calls, filled with the calls of files.h.
#include "platform/file_calls.h"

#include "platform/files.h"

namespace platform {

namespace {

// The table's creation call answers the error number itself.
int create_new(const char* path) { return create_new_file(path) ? 0 : static_cast<int>(last_file_failure().code); }

FileCalls calls = {open_append, write_fd, create_new};

}  // namespace

FileCalls& file_calls() { return calls; }

}  // namespace platform
