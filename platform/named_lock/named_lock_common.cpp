// NamedLock over the lock calls of the system-call table, so that a test can make any of
// them fail; the backends hold what differs between the systems.
#include "platform/named_lock/named_lock.h"

#include "platform/files/file_calls.h"
#include "platform/named_lock/named_lock_backend.h"

namespace platform {

namespace {

// The calling thread's last failed wait and the lock it was for: a failure is the
// thread's own, as two threads may wait for one lock at once.
struct WaitFailure {
  const NamedLock* lock = nullptr;
  SystemError why;
};
thread_local WaitFailure last_wait_failure;

const SystemError no_failure;

}  // namespace

NamedLock::NamedLock(const std::string& name, Access access, const std::string& folder) {
  handle_ = lock_calls().open(name, access, folder, &failure_);
  if (!handle_ && !failure_.failed()) failure_ = SystemError{1, "lock " + name, std::string(), false};
}

NamedLock::~NamedLock() {
  if (handle_) lock_calls().close(handle_);
  if (last_wait_failure.lock == this) last_wait_failure.lock = nullptr;
}

bool NamedLock::ok() const { return handle_ != nullptr; }

const SystemError& NamedLock::failure() const {
  if (!handle_) return failure_;
  return last_wait_failure.lock == this ? last_wait_failure.why : no_failure;
}

LockWait NamedLock::wait(unsigned long timeout_ms) {
  if (!handle_) return LockWait::failed;
  SystemError why;
  const LockWait waited = lock_calls().wait(handle_, timeout_ms, &why);
  if (waited == LockWait::failed) {
    if (!why.failed()) why.code = 1;
    last_wait_failure.lock = this;
    last_wait_failure.why = why;
  }
  return waited;
}

void NamedLock::release() {
  if (handle_) lock_calls().release(handle_);
}

unsigned long NamedLock::holder() const { return handle_ ? named_lock_holder(handle_) : 0; }

}  // namespace platform
