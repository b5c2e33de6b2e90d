// POSIX backend of the system error texts: strerror, with the count of messages taken
// from the library's own table of descriptions.
#include "platform/syserror/syserror.h"

#include <errno.h>
#include <string.h>

#include "platform/syserror/system_error.h"

namespace platform {

int c_error_count() {
  // glibc no longer exports sys_nerr; the table ends after its last described number.
  static const int count = [] {
    int last = -1;
    for (int n = 0; n < 4096; ++n)
      if (strerrordesc_np(n)) last = n;
    return last + 1;
  }();
  return count;
}

const char* c_error_message(int number) { return strerror(number); }

std::string system_message(unsigned long code) {
  if (code > 0x7fffffffUL) return std::string();
  const char* text = strerrordesc_np(static_cast<int>(code));
  return text ? std::string(text) : std::string();
}

bool SystemError::out_of_descriptors() const { return code == EMFILE || code == ENFILE; }

}  // namespace platform
