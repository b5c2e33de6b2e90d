// The table of the log writer's file calls, filled with the calls of fileio.h.
#include "platform/file_calls.h"

#include "platform/fileio.h"

namespace platform {

namespace {
FileCalls calls = {open_append, write_fd, create_new_file};
}

FileCalls& file_calls() { return calls; }

}  // namespace platform
