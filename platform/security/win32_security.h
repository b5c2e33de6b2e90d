// Private to the Win32 backends: the security attributes of the framework's shared
// objects (the loader's process, the log block's mutex, mappings and their backing files),
// with handles that are not inherited.
//
// Each object's access list grants its creator (the process's user), SYSTEM and the
// administrators every right, and everyone else only what sharing needs: to wait for and
// query a process; to open, wait for and release a mutex; to map a mapping for reading
// and writing; to read and write a backing file. Nobody else may write a process's memory,
// start a thread in it, or change an object's access list or owner.
//
// Threads: every call may come from any thread at once.
#ifndef QK_PLATFORM_SECURITY_WIN32_SECURITY_H
#define QK_PLATFORM_SECURITY_WIN32_SECURITY_H

#include <windows.h>

#include <vector>

namespace platform {
namespace win32 {

enum class SharedKind { process, mutex, mapping, file };

// What the kind grants its creator, SYSTEM and the administrators / everyone else.
DWORD full_rights(SharedKind kind);
DWORD shared_rights(SharedKind kind);

class SharedObjectSecurity {
 public:
  explicit SharedObjectSecurity(SharedKind kind);
  SharedObjectSecurity(const SharedObjectSecurity&) = delete;
  SharedObjectSecurity& operator=(const SharedObjectSecurity&) = delete;

  // The attributes to create the object with; nullptr (the system's default security)
  // when the list could not be built (no token to name the creator by).
  SECURITY_ATTRIBUTES* attributes() { return built_ ? &sa_ : nullptr; }

 private:
  bool built_ = false;
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR sd_;
  SECURITY_ATTRIBUTES sa_;
};

}  // namespace win32
}  // namespace platform

#endif
