// Windows backend of the system error texts: the runtime's strerror table and
// FormatMessageA.
#include "platform/syserror/syserror.h"

#include <windows.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "platform/syserror/system_error.h"

namespace platform {

int c_error_count() { return _sys_nerr; }

const char* c_error_message(int number) { return strerror(number); }

std::string system_message(unsigned long code) {
  char buf[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           buf, sizeof buf, nullptr);
  if (n == 0) return std::string();
  return std::string(buf, n);
}

bool SystemError::out_of_descriptors() const {
  if (c_library_code) return code == EMFILE || code == ENFILE;
  return code == ERROR_TOO_MANY_OPEN_FILES;
}

}  // namespace platform
