// Win32 backend of folders: the C runtime's _stat, _mkdir and _access.
#include "platform/directory.h"

#include <direct.h>
#include <errno.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdlib>

namespace platform {

int path_status(const std::string& path, PathStatus* status) {
  *status = PathStatus();
  struct _stat st;
  if (_stat(path.c_str(), &st) != 0) return errno;
  status->exists = true;
  status->is_directory = (st.st_mode & _S_IFDIR) != 0;
  return 0;
}

int make_directory(const std::string& path) { return _mkdir(path.c_str()) == 0 ? 0 : errno; }

int read_write_access(const std::string& path) { return _access(path.c_str(), 6) == 0 ? 0 : errno; }

std::string current_directory() {
  char* text = _getcwd(nullptr, 0);
  if (!text) return std::string();
  std::string path = text;
  free(text);
  return path;
}

std::size_t longest_path() { return 259; }

bool shared_folder_usable(const std::string& path, SystemError* why) {
  PathStatus status;
  int error = path_status(path, &status);
  if (error == 0 && !status.is_directory) error = ENOTDIR;
  if (error == 0) return true;
  *why = SystemError{static_cast<unsigned long>(error), "_stat " + path, std::string(), false, true};
  return false;
}

}  // namespace platform
