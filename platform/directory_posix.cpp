// POSIX backend of folders: stat, mkdir (0777 under the process's mask), access, and the
// test of a folder for shared files.
#include "platform/directory.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>
#include "platform/internal/shared_file_posix.h"

namespace platform {

int path_status(const std::string& path, PathStatus* status) {
  *status = PathStatus();
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno;
  status->exists = true;
  status->is_directory = S_ISDIR(st.st_mode);
  return 0;
}

int make_directory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 ? 0 : errno; }

int read_write_access(const std::string& path) {
  return access(path.c_str(), R_OK | W_OK) == 0 ? 0 : errno;
}

std::string current_directory() {
  std::vector<char> buffer(256);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::size_t longest_path() { return 4095; }

}  // namespace platform

namespace platform {

bool shared_folder_usable(const std::string& path, SystemError* why) {
  posix::Folder folder;
  if (!posix::open_folder(path, &folder, why)) return false;
  posix::close_folder(&folder);
  return true;
}

}  // namespace platform
