// Win32 backend of named locks: a named kernel mutex (CreateMutexA, WaitForSingleObject,
// ReleaseMutex, CloseHandle).
#include "platform/named_lock.h"

#include <windows.h>

#include "platform/internal/win32_security.h"

namespace platform {

struct NamedLock::State {
  HANDLE mutex = nullptr;
  unsigned holds = 0;  // this handle's holds by the owning thread
  DWORD owner = 0;
};

NamedLock::NamedLock(const std::string& name, Access access, const std::string&) {
  win32::OpenToEveryone open_to_everyone;
  SECURITY_ATTRIBUTES* attributes = access == everyone ? &open_to_everyone.sa : nullptr;
  HANDLE h = CreateMutexA(attributes, FALSE, name.c_str());
  if (!h) {
    failure_ = SystemError{GetLastError(), "CreateMutexA " + name, std::string(), false};
    return;
  }
  state_ = new State;
  state_->mutex = h;
}

NamedLock::~NamedLock() {
  if (!state_) return;
  if (state_->owner == GetCurrentThreadId())
    while (state_->holds > 0) release();
  CloseHandle(state_->mutex);
  delete state_;
}

bool NamedLock::ok() const { return state_ != nullptr; }

LockWait NamedLock::wait(unsigned long timeout_ms) {
  if (!state_) return LockWait::failed;
  LockWait result;
  switch (WaitForSingleObject(state_->mutex, timeout_ms)) {
    case WAIT_OBJECT_0: result = LockWait::acquired; break;
    case WAIT_ABANDONED: result = LockWait::abandoned; break;
    case WAIT_TIMEOUT: return LockWait::timed_out;
    default: return LockWait::failed;
  }
  state_->owner = GetCurrentThreadId();
  ++state_->holds;
  return result;
}

void NamedLock::release() {
  if (!state_ || state_->holds == 0 || state_->owner != GetCurrentThreadId()) return;
  if (--state_->holds == 0) state_->owner = 0;
  ReleaseMutex(state_->mutex);
}

}  // namespace platform
