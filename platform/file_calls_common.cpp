// The table of system calls, filled with the calls of files.h and the named-lock backend.
#include "platform/file_calls.h"

#include "platform/files.h"
#include "platform/internal/named_lock_backend.h"

namespace platform {
namespace internal {

namespace {

// The table's creation call answers the error number itself.
int create_new(const char* path) { return create_new_file(path) ? 0 : static_cast<int>(last_file_failure().code); }

}  // namespace

SystemCalls system_calls = {
    {open_append, write_fd, create_new},
    {open_named_lock, wait_named_lock, release_named_lock, close_named_lock},
};

}  // namespace internal
}  // namespace platform
