// Folders: whether a path is one, making one, and the access the process has to it.
// Error numbers are the C library's (2: no such file, 13: access denied, 17: exists).
#ifndef QK_PLATFORM_DIRECTORY_H
#define QK_PLATFORM_DIRECTORY_H

#include <cstddef>
#include <string>

#include "platform/system_error.h"

namespace platform {

struct PathStatus {
  bool exists = false;
  bool is_directory = false;
};

// Reads the path's status; 0, or the error number (2 when it does not exist).
int path_status(const std::string& path, PathStatus* status);

// Makes the folder (its parent must exist); 0, or the error number (17 when it exists).
int make_directory(const std::string& path);

// 0 when the process may read and write the path, else the error number.
int read_write_access(const std::string& path);

// The current directory, or "" when it cannot be had.
std::string current_directory();

// The most characters a path may have for files to be opened by it (259 on Windows, where
// a path must fit MAX_PATH with its zero byte; 4095 on POSIX).
std::size_t longest_path();
// True when the folder exists and may hold files that the processes of an installation
// share: on POSIX it is not another user's symbolic link, and it belongs to this user or
// root or lies in a folder that not every user may write (a folder planted in /tmp does
// not serve). Windows accepts any existing folder. Else false with the reason.
bool shared_folder_usable(const std::string& path, SystemError* why);

}  // namespace platform

#endif
