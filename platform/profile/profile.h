// Profile strings (initialisation files of "[section]" and "key=value" lines) and the
// system directories the settings come from.
//
// Threads: every call may come from any thread at once; the test directories are set while no
// other thread reads them.
#ifndef QK_PLATFORM_PROFILE_PROFILE_H
#define QK_PLATFORM_PROFILE_PROFILE_H

#include <string>

namespace platform {

// GetPrivateProfileStringA: the value of key in section of the file into buf (size bytes,
// the terminating zero included), or default_value when there is none. A file named
// without a directory is looked for in the Windows directory. Section and key names are
// compared ignoring case; the value is trimmed of blanks and of one pair of enclosing
// quotes. Returns the number of bytes copied; size - 1 when the value was cut.
unsigned long profile_string(const char* section, const char* key, const char* default_value,
                             char* buf, unsigned long size, const char* file);

// GetWindowsDirectoryA into at most max_bytes bytes (POSIX: "/etc"). False when the
// system gives none or it does not fit.
bool windows_directory(std::string& dir, unsigned max_bytes);

// The last directory searched for configuration files: "C:/" on Windows, "/etc" on POSIX.
std::string system_config_directory();

}  // namespace platform

#endif
