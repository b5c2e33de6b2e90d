// POSIX opening of the files shared by the processes of an installation (see
// platform/files/shared_file_posix.h).
#include "platform/files/shared_file_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace posix {

namespace {

const char remove_it[] = "remove it";

bool refuse(SystemError* error, int code, const std::string& call, const std::string& advice) {
  if (error) *error = SystemError{static_cast<unsigned long>(code), call, advice, !advice.empty()};
  errno = code;
  return false;
}

bool privileged_owner(uid_t owner) { return owner == geteuid() || owner == 0; }

std::string user_text(uid_t uid) { return "user " + std::to_string(static_cast<unsigned long>(uid)); }

// Why the open of an object in a shared folder failed, and what the user can do.
std::string advice_for(int code) {
  switch (code) {
    case ELOOP: return "it is a symbolic link; remove it";
    case ENOTDIR: return "a part of the path that should be a folder is not one; remove it";
    case EISDIR:
    case ENXIO: return "it is not a regular file; remove it";
    case EACCES:
    case EPERM:
      return "this user may not open it; remove it, or give the installation's users a shared "
             "group and a group-writable umask";
    default: return std::string();
  }
}

}  // namespace

void split_path(const std::string& path, std::string* folder, std::string* name) {
  std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    *folder = ".";
    *name = path;
  } else {
    *folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

bool owner_may_write(const struct stat& file, const struct stat& folder) {
  if (privileged_owner(file.st_uid) || file.st_uid == folder.st_uid) return true;
  if ((folder.st_mode & S_IWGRP) && file.st_gid == folder.st_gid) return true;
  // A folder that every user may write lets any owner in, unless it is sticky (like /tmp),
  // where each user keeps to the files of their own.
  return (folder.st_mode & S_IWOTH) && !(folder.st_mode & S_ISVTX);
}

bool open_folder(const std::string& path, Folder* folder, SystemError* error) {
  *folder = Folder();
  struct stat link;
  if (lstat(path.c_str(), &link) != 0) {
    int code = errno;
    return refuse(error, code, "lstat " + path, advice_for(code));
  }
  if (S_ISLNK(link.st_mode) && !privileged_owner(link.st_uid))
    return refuse(error, ELOOP, "open " + path,
                  "it is a symbolic link of " + user_text(link.st_uid) + "; " + remove_it);
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    int code = errno;
    return refuse(error, code, "open " + path, advice_for(code));
  }
  struct stat status;
  if (fstat(fd, &status) != 0) {
    int code = errno;
    close(fd);
    return refuse(error, code, "fstat " + path, std::string());
  }
  if (!privileged_owner(status.st_uid)) {
    // Another user's folder serves when it was made where not everyone may make folders
    // (a multi-user installation); in a folder such as /tmp anyone could have planted it.
    struct stat parent;
    if (fstatat(fd, "..", &parent, 0) != 0 || (parent.st_mode & S_IWOTH)) {
      close(fd);
      return refuse(error, EPERM, "open " + path,
                    "the folder belongs to " + user_text(status.st_uid) +
                        " and lies in a folder that every user may write; " + remove_it);
    }
  }
  folder->fd = fd;
  folder->status = status;
  folder->path = path;
  return true;
}

void close_folder(Folder* folder) {
  if (folder->fd >= 0) close(folder->fd);
  *folder = Folder();
}

int open_in_folder(const Folder& folder, const std::string& name, int flags, mode_t mode,
                   SystemError* error) {
  // The path's text is made only for a failure: the log writer opens a file per record.
  // O_NONBLOCK: a planted FIFO must not hang the open; it is refused below.
  int fd = openat(folder.fd, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
  if (fd < 0) {
    int code = errno;
    refuse(error, code, "open " + folder.path + "/" + name, advice_for(code));
    return -1;
  }
  struct stat status;
  std::string problem;
  int code = EEXIST;
  if (fstat(fd, &status) != 0) {
    code = errno;
  } else if (!S_ISREG(status.st_mode)) {
    code = ENXIO;  // as the open of a socket, or of a FIFO without a reader, answers
    problem = "it is not a regular file; remove it";
  } else if (status.st_nlink != 1) {
    code = EMLINK;
    problem = "it has other names (hard links); remove it";
  } else if (!owner_may_write(status, folder.status)) {
    code = EPERM;
    problem = "it belongs to " + user_text(status.st_uid) + ", who may not write " + folder.path + "; " + remove_it;
  } else {
    int file_flags = fcntl(fd, F_GETFL);
    if (file_flags != -1 && fcntl(fd, F_SETFL, file_flags & ~O_NONBLOCK) == 0) return fd;
    code = errno;
  }
  close(fd);
  refuse(error, code, (problem.empty() ? "fstat " : "open ") + folder.path + "/" + name, problem);
  return -1;
}

int open_shared_file(const std::string& path, int flags, mode_t mode, SystemError* error) {
  std::string folder_path, name;
  split_path(path, &folder_path, &name);
  Folder folder;
  if (!open_folder(folder_path, &folder, error)) return -1;
  int fd = open_in_folder(folder, name, flags, mode, error);
  int code = errno;
  close_folder(&folder);
  errno = code;
  return fd;
}

}  // namespace posix
}  // namespace platform
