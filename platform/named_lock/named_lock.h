// Named locks: one mutex for every process of an installation that uses the same name.
//
// On Windows a named kernel mutex. On POSIX an advisory lock on the lock file "<name>.lock"
// in a folder of the installation, paired with an in-process mutex because a file lock
// does not exclude the threads of one process; a child made by fork() locks on its own.
// Either way the lock is recursive for the thread that holds it, and a lock whose holder
// died is handed to the next waiter: no process hangs because another was killed while
// holding it. Its creation, waits and releases go through the lock table of file_calls.h,
// where a test can make any of them fail.
//
//   platform::NamedLock lock("QK_SEM0000002a", platform::NamedLock::everyone, site + "/shm");
//   if (lock.ok() && lock.wait(platform::NamedLock::forever) != platform::LockWait::failed) {
//     ... change what the lock guards ...
//     lock.release();
//   }
//
// Threads: one NamedLock may be used from any thread at once: the threads of a process exclude
// each other as processes do, each releases its own holds, and failure() is the thread's own.
#ifndef QK_PLATFORM_NAMED_LOCK_NAMED_LOCK_H
#define QK_PLATFORM_NAMED_LOCK_NAMED_LOCK_H

#include <string>

#include "platform/syserror/system_error.h"

namespace platform {

// An open named lock of a backend; only the backends know what it holds.
struct LockHandle;

enum class LockWait {
  acquired,   // the caller holds the lock
  abandoned,  // the caller holds the lock; its previous holder ended without releasing it
  timed_out,  // the lock stayed busy for the whole wait
  failed,     // the lock could not be waited for
};

class NamedLock {
 public:
  static constexpr unsigned long forever = 0xFFFFFFFFul;

  enum Access {
    default_access,  // the system's default security
    everyone,        // every user may open, wait for and release it (no more)
  };

  // Opens the lock of that name, creating it when no process has it yet; not held. Where
  // locks are files (POSIX) the lock file is made in the folder, which must exist; the
  // kernel's names (Windows) need no folder.
  NamedLock(const std::string& name, Access access, const std::string& folder);
  // Closes this handle; a lock still held by the calling thread is released first.
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  // False when the lock could not be made; error() and failure() then tell why.
  bool ok() const;
  // The system error code of failure() (GetLastError / errno).
  unsigned long error() const { return failure().code; }
  // The failed call, its object and what the user can do about it: of the creation when
  // the lock could not be made, else of the calling thread's last wait for this lock that
  // answered failed (no failure when there was none).
  const SystemError& failure() const;

  // Waits up to timeout_ms milliseconds (forever: without limit) for the lock.
  LockWait wait(unsigned long timeout_ms);
  // Releases one hold of the calling thread.
  void release();

  // The process id of another process that holds the lock, where the system tells it
  // (POSIX, for processes this user may look at); 0 when it is not known. For messages
  // about a wait that timed out: the answer may be stale by the time it is read.
  unsigned long holder() const;

 private:
  LockHandle* handle_ = nullptr;
  SystemError failure_;
};

}  // namespace platform

#endif
