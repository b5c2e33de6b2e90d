// Private to the Win32 backends: the security attributes of the framework's shared
// objects (mutexes, mappings, the loader's process): a descriptor with a present but null
// access list, so that every process of the machine may open them, and handles that are
// not inherited.
//
// Threads: every call may come from any thread at once.
#ifndef QK_PLATFORM_INTERNAL_WIN32_SECURITY_H
#define QK_PLATFORM_INTERNAL_WIN32_SECURITY_H

#include <windows.h>

namespace platform {
namespace win32 {

struct OpenToEveryone {
  SECURITY_DESCRIPTOR sd;
  SECURITY_ATTRIBUTES sa;
  OpenToEveryone() {
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = &sd;
    sa.bInheritHandle = FALSE;
  }
  OpenToEveryone(const OpenToEveryone&) = delete;
  OpenToEveryone& operator=(const OpenToEveryone&) = delete;
};

}  // namespace win32
}  // namespace platform

#endif
