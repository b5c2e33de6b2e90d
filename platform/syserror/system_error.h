// One shape for a failed system call: the system's error code and what was being done,
// so that a message can say which call failed on which object and why.
//
//   platform::SystemError e;
//   ... e = {errno, "open /srv/site/shm/QK_SEM0000002a.lock"} ...
//   std::fprintf(stderr, "%s\n", e.text().c_str());  // "open /srv/...: Permission denied"
//
// Threads: a SystemError is a value; distinct objects may be used from any thread at once.
#ifndef QK_PLATFORM_SYSERROR_SYSTEM_ERROR_H
#define QK_PLATFORM_SYSERROR_SYSTEM_ERROR_H

#include <string>

namespace platform {

struct SystemError {
  unsigned long code = 0;  // errno on POSIX, GetLastError on Windows; 0: no failure
  std::string call;        // the call and its object, e.g. "open /srv/site/shm/0000002a"
  std::string advice;      // what the user can do about it, when the cause is known
  // The call met an object that is not what it should be (a symbolic link, a folder, a
  // file of another user, one this user may not open, a lock held for too long): the
  // cause lies outside this process, and advice says what to remove.
  bool object_in_the_way = false;
  // The code is the C library's errno on every system (on Windows too), not the system's.
  bool c_library_code = false;

  bool failed() const { return code != 0; }
  // The process has no file descriptor (handle) left, or the system none to give.
  bool out_of_descriptors() const;
  // "<call>: <system message>" and, when there is advice, "; " and the advice.
  std::string text() const;
};

}  // namespace platform

#endif
