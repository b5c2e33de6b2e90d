// The thread's last failure of a files call, the same on every system.
#include <errno.h>

#include <cstring>
#include <new>
#include <string>

#include "platform/files/files.h"
#include "platform/files/file_failure.h"

namespace platform {

namespace {

// A descriptor call's failure, kept as it came until someone asks for its text: the write
// path of the logger builds no text for a failure that no one reads.
struct Noted {
  bool waiting;
  int code;
  const char* call;
  int fd;
};
thread_local Noted noted = {false, 0, nullptr, -1};

// The thread's failure, in storage that lasts as long as the thread: records are written
// by exit-time destructors, after the main thread's thread-local objects are destroyed, and
// a failed call must still be safe then. The failure is destroyed with the thread's other
// objects; one made after that is left to the end of the thread (or of the process).
struct FailureStorage {
  alignas(SystemError) unsigned char bytes[sizeof(SystemError)];
  bool made;
  bool destroyed;
};
thread_local FailureStorage storage;  // trivially destructible: usable to the thread's end

SystemError& stored() { return *reinterpret_cast<SystemError*>(storage.bytes); }

struct FailureDestroyer {
  bool armed = false;
  ~FailureDestroyer() {
    if (!storage.made) return;
    stored().~SystemError();
    storage.made = false;
    storage.destroyed = true;
  }
};
thread_local FailureDestroyer destroyer;

SystemError& failure() {
  if (!storage.made) {
    new (storage.bytes) SystemError();
    storage.made = true;
    if (!storage.destroyed) destroyer.armed = true;  // its first use arranges its destruction
  }
  return stored();
}

}  // namespace

const SystemError& last_file_failure() {
  if (noted.waiting) {
    noted.waiting = false;
    failure() = SystemError{static_cast<unsigned long>(noted.code),
                          std::string(noted.call) + " descriptor " + std::to_string(noted.fd), std::string(), false,
                          true};
  }
  return failure();
}

bool make_directories(const std::string& base, const char* below) {
  std::string path = base;
  SystemError last = make_directory(path.c_str()) ? SystemError() : last_file_failure();
  for (const char* part = below; *part;) {
    const char* end = std::strchr(part, '/');
    if (!end) end = part + std::strlen(part);
    if (end != part) {
      path += '/';
      path.append(part, end);
      // What counts is the last level: the levels above it may well exist already.
      last = make_directory(path.c_str()) ? SystemError() : last_file_failure();
    }
    part = *end ? end + 1 : end;
  }
  FileStatus status;
  if (file_status(path.c_str(), &status) && status.is_directory) return true;
  if (last.failed()) {
    files::failure_to_fill() = last;
    errno = static_cast<int>(last.code);
    return false;
  }
  return files::path_failed(ENOTDIR, "stat", path.c_str());
}

namespace files {

bool path_refused(int code, const char* call, const char* path, const char* advice) {
  SystemError& f = failure_to_fill();
  f.code = static_cast<unsigned long>(code);
  f.call.assign(call);
  if (*path) f.call.append(" ").append(path);
  f.advice.assign(advice);
  f.object_in_the_way = !f.advice.empty();
  f.c_library_code = true;
  errno = code;
  return false;
}

bool path_failed(int code, const char* call, const char* path) { return path_refused(code, call, path, ""); }

void descriptor_failed(int code, const char* call, int fd) {
  noted = Noted{true, code, call, fd};
  errno = code;
}

SystemError& failure_to_fill() {
  noted.waiting = false;
  return failure();
}

}  // namespace files
}  // namespace platform
