// The table of system calls, filled with the calls of files.h and the named-lock backend.
#include "platform/files/file_calls.h"

#include "platform/files/files.h"
#include "platform/named_lock/named_lock_backend.h"

namespace platform {
namespace internal {

SystemCalls system_calls = {
    {open_append, write_fd, create_new_file},
    {open_named_lock, wait_named_lock, release_named_lock, close_named_lock},
};

}  // namespace internal
}  // namespace platform
