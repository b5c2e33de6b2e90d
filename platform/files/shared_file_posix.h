// POSIX only: how the backends open the files that the processes of an installation share
// (lock files, backing files of mappings, log files). Each is opened relative to its
// folder, never through a symbolic link, with the permissions the user's file-creation
// mask gives (the mask is never changed), and refused unless it is a regular file with
// one name whose owner may write into the folder. The folder itself must belong to this
// user or root, or lie in a folder that not every user may write.
//
// Threads: every call may come from any thread at once.
#ifndef QK_PLATFORM_FILES_SHARED_FILE_POSIX_H
#define QK_PLATFORM_FILES_SHARED_FILE_POSIX_H

#include <sys/stat.h>

#include <string>

#include "platform/syserror/system_error.h"

namespace platform {
namespace posix {

struct Folder {
  int fd = -1;
  struct stat status {};
  std::string path;
};

// Opens the folder; false with the reason when it does not exist or cannot be trusted.
bool open_folder(const std::string& path, Folder* folder, SystemError* error);
void close_folder(Folder* folder);

// Opens the file of that name in the folder with the open flags (O_CREAT to make it,
// mode less the file-creation mask); the descriptor, or -1 with the reason.
int open_in_folder(const Folder& folder, const std::string& name, int flags, mode_t mode,
                   SystemError* error);

// The same for a path: its folder is opened for the call only.
int open_shared_file(const std::string& path, int flags, mode_t mode, SystemError* error);

// The folder part ("." for a bare name) and the last part of a path.
void split_path(const std::string& path, std::string* folder, std::string* name);

// True when a file of that status may be trusted in a folder of that status: its owner is
// this user, root or the folder's owner, or a user the folder's permissions let write it.
bool owner_may_write(const struct stat& file, const struct stat& folder);

}  // namespace posix
}  // namespace platform

#endif
