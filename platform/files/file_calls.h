// The system calls through which the log writer reaches its files and every named lock is
// made, waited for and released: one table, so that a test can make the Nth open, write,
// creation or lock wait fail with a chosen error on every build (a full disk, a process
// out of descriptors, a lock the system refuses), where the system offers no way to
// provoke it. The default entries are the calls of files.h and the named-lock backend;
// going through the table costs one indirect call.
//
//   platform::ScopedSystemCalls faults;        // both tables, restored when it goes
//   faults.files().write = failing_write;     // every later write through the table fails
//   faults.locks().wait = failing_wait;       // and every wait for a named lock
//
// Threads: the calls through the tables may come from any thread at once; a test changes the
// tables (ScopedSystemCalls) only while no other thread makes them.
#ifndef QK_PLATFORM_FILES_FILE_CALLS_H
#define QK_PLATFORM_FILES_FILE_CALLS_H

#include <cstddef>
#include <string>

#include "platform/named_lock/named_lock.h"
#include "platform/syserror/system_error.h"

namespace platform {

struct FileCalls {
  // open_append of files.h: the descriptor, or -1 with errno set.
  int (*open_append)(const char* path);
  // write_fd of files.h: the count written, or -1 with errno set.
  long (*write)(int fd, const void* data, std::size_t size);
  // create_new_file of files.h: true, or false with errno set.
  bool (*create_new)(const char* path);
};

// The calls behind NamedLock.
struct LockCalls {
  // Opens the lock of that name, creating it when no process has it yet: the handle, or
  // nullptr with *failure telling why.
  LockHandle* (*open)(const std::string& name, NamedLock::Access access, const std::string& folder,
                      SystemError* failure);
  // Waits up to timeout_ms milliseconds (NamedLock::forever: without limit); *failure
  // tells why when the answer is LockWait::failed, and is left alone otherwise.
  LockWait (*wait)(LockHandle* lock, unsigned long timeout_ms, SystemError* failure);
  // Releases one hold of the calling thread; nothing when it holds none.
  void (*release)(LockHandle* lock);
  // Releases the calling thread's holds and closes the handle.
  void (*close)(LockHandle* lock);
};

struct SystemCalls {
  FileCalls files;
  LockCalls locks;
};

namespace internal {
extern SystemCalls system_calls;  // constant-initialised: usable during static initialisation
}

// The tables in use.
inline FileCalls& file_calls() { return internal::system_calls.files; }
inline LockCalls& lock_calls() { return internal::system_calls.locks; }

// Keeps a copy of both tables and puts them back when it goes.
class ScopedSystemCalls {
 public:
  ScopedSystemCalls() : saved_(internal::system_calls) {}
  ~ScopedSystemCalls() { internal::system_calls = saved_; }
  ScopedSystemCalls(const ScopedSystemCalls&) = delete;
  ScopedSystemCalls& operator=(const ScopedSystemCalls&) = delete;
  FileCalls& files() { return file_calls(); }
  LockCalls& locks() { return lock_calls(); }
  // The tables as they were when this object was made.
  const SystemCalls& original() const { return saved_; }

 private:
  SystemCalls saved_;
};

}  // namespace platform

#endif
