// Win32 backend of named locks: a named kernel mutex (CreateMutexA, WaitForSingleObject,
// ReleaseMutex, CloseHandle).
#include <windows.h>

#include "platform/named_lock/named_lock_backend.h"
#include "platform/security/win32_security.h"

namespace platform {

struct LockHandle {
  HANDLE mutex = nullptr;
  std::string name;
  unsigned holds = 0;  // this handle's holds by the owning thread
  DWORD owner = 0;
};

LockHandle* open_named_lock(const std::string& name, NamedLock::Access access, const std::string&,
                            SystemError* failure) {
  // A lock for everyone lets other users open, wait for and release it, no more (see
  // win32_security.h); CreateMutexExA asks only for those rights, so that it opens the
  // mutex that another user made. Any other lock has the system's default security.
  HANDLE h = nullptr;
  if (access == NamedLock::everyone) {
    win32::SharedObjectSecurity security(win32::SharedKind::mutex);
    h = CreateMutexExA(security.attributes(), name.c_str(), 0, win32::shared_rights(win32::SharedKind::mutex));
  } else {
    h = CreateMutexA(nullptr, FALSE, name.c_str());
  }
  if (!h) {
    *failure = SystemError{GetLastError(), "CreateMutexA " + name, std::string(), false};
    return nullptr;
  }
  LockHandle* lock = new LockHandle;
  lock->mutex = h;
  lock->name = name;
  return lock;
}

void close_named_lock(LockHandle* lock) {
  if (lock->owner == GetCurrentThreadId())
    while (lock->holds > 0) release_named_lock(lock);
  CloseHandle(lock->mutex);
  delete lock;
}

LockWait wait_named_lock(LockHandle* lock, unsigned long timeout_ms, SystemError* failure) {
  LockWait result;
  switch (WaitForSingleObject(lock->mutex, timeout_ms)) {
    case WAIT_OBJECT_0: result = LockWait::acquired; break;
    case WAIT_ABANDONED: result = LockWait::abandoned; break;
    case WAIT_TIMEOUT: return LockWait::timed_out;
    default:
      *failure = SystemError{GetLastError(), "WaitForSingleObject " + lock->name, std::string(), false};
      return LockWait::failed;
  }
  lock->owner = GetCurrentThreadId();
  ++lock->holds;
  return result;
}

void release_named_lock(LockHandle* lock) {
  if (lock->holds == 0 || lock->owner != GetCurrentThreadId()) return;
  if (--lock->holds == 0) lock->owner = 0;
  ReleaseMutex(lock->mutex);
}

// Windows tells no mutex's owner.
unsigned long named_lock_holder(LockHandle*) { return 0; }

}  // namespace platform
