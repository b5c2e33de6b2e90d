// Private to the platform layer: the named-lock calls of the backend this build uses
// (named_lock_posix.cpp or named_lock_win32.cpp), the default entries of the lock table
// in file_calls.h. Their contracts are those of LockCalls.
//
// Threads: as named_lock.h: any thread may wait for and release its own holds at once.
#ifndef QK_PLATFORM_NAMED_LOCK_NAMED_LOCK_BACKEND_H
#define QK_PLATFORM_NAMED_LOCK_NAMED_LOCK_BACKEND_H

#include <string>

#include "platform/named_lock/named_lock.h"
#include "platform/syserror/system_error.h"

namespace platform {

LockHandle* open_named_lock(const std::string& name, NamedLock::Access access, const std::string& folder,
                            SystemError* failure);
LockWait wait_named_lock(LockHandle* lock, unsigned long timeout_ms, SystemError* failure);
void release_named_lock(LockHandle* lock);
void close_named_lock(LockHandle* lock);
// The process id of the lock's holder where the system tells it; 0 when it does not.
unsigned long named_lock_holder(LockHandle* lock);

}  // namespace platform

#endif
