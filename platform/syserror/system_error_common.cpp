// The text of a failed system call, the same on every system.
#include "platform/syserror/system_error.h"

#include "platform/syserror/syserror.h"

namespace platform {

std::string SystemError::text() const {
  std::string message = c_library_code ? std::string(c_error_message(static_cast<int>(code))) : system_message(code);
  if (message.empty()) message = "system error " + std::to_string(code);
  std::string result = call.empty() ? message : call + ": " + message;
  if (!advice.empty()) result += "; " + advice;
  return result;
}

}  // namespace platform
