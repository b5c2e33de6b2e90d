// Texts of system error numbers: the C library's messages and the system's own table.
//
// Threads: every call may come from any thread at once; a C library message lives until the
// calling thread's next call.
#ifndef QK_PLATFORM_SYSERROR_SYSERROR_H
#define QK_PLATFORM_SYSERROR_SYSERROR_H

#include <string>

namespace platform {

// The C library's count of error messages (sys_nerr): numbers below it have a message.
int c_error_count();

// The C library's message for the number (strerror).
const char* c_error_message(int number);

// The system's message for an error code in the user's default language (FormatMessageA
// from the system table; on POSIX the C library's message for the errno value). Empty
// when the system has no text for the code.
std::string system_message(unsigned long code);

}  // namespace platform

#endif
