// Who and where the process runs: the computer's name and the account's user name.
//
// Threads: every call may come from any thread at once.
#ifndef QK_PLATFORM_IDENTITY_IDENTITY_H
#define QK_PLATFORM_IDENTITY_IDENTITY_H

#include <string>

namespace platform {

// The computer's name (GetComputerNameA into at most max_bytes bytes, the terminating zero
// included; on POSIX gethostname up to its first "."). False, with name emptied, when the
// system gives none.
bool computer_name(std::string& name, unsigned max_bytes);

// The user name of the account that runs the process (GetUserNameA into at most max_bytes
// bytes, the terminating zero included; on POSIX the effective user's account name).
// False, with name emptied, when the system gives none or it does not fit.
bool account_user_name(std::string& name, unsigned max_bytes);

// The operating system's name in lower case: "windows", or uname's system name ("linux").
std::string system_name();

}  // namespace platform

#endif
