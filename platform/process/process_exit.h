// Between the process concept's shared code and its backends: waiting for a started child.
//
// Threads: any thread may wait, once per child, while others start and wait.
#ifndef QK_PLATFORM_PROCESS_PROCESS_EXIT_H
#define QK_PLATFORM_PROCESS_PROCESS_EXIT_H

#include "platform/process/process.h"

namespace platform {

// Waits without time limit for the child behind the handle and fills in its exit code
// when it can be read; the handle is released.
void wait_for_exit(intptr_t handle, CommandResult& result);

}  // namespace platform

#endif
