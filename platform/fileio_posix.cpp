// POSIX backend of file descriptors. Log files are opened relative to their folder, which
// stays open from one record to the next while the path still names it.
#include "platform/fileio.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "platform/internal/shared_file_posix.h"

namespace platform {

namespace {

thread_local SystemError last_failure;

std::mutex folder_mutex;
// The folder of the last log file opened; made on first use, since the logger opens its
// first file during static initialisation.
posix::Folder& last_folder() {
  static auto* folder = new posix::Folder;
  return *folder;
}

// Opens the file in its folder; the folder is opened again when the path now names another
// folder (or none: a removed folder is then reported as missing).
int open_log_file(const char* path, int flags) {
  std::string folder_path, name;
  posix::split_path(path, &folder_path, &name);
  std::lock_guard<std::mutex> g(folder_mutex);
  posix::Folder& log_folder = last_folder();
  struct stat now;
  bool same = log_folder.fd >= 0 && log_folder.path == folder_path && stat(folder_path.c_str(), &now) == 0 &&
              now.st_dev == log_folder.status.st_dev && now.st_ino == log_folder.status.st_ino;
  if (!same) {
    posix::close_folder(&log_folder);
    if (!posix::open_folder(folder_path, &log_folder, &last_failure)) return -1;
  }
  int fd = posix::open_in_folder(log_folder, name, flags, 0666, &last_failure);
  return fd;
}

}  // namespace

long write_fd(int fd, const void* data, std::size_t size) {
  return static_cast<long>(::write(fd, data, size));
}

int open_append(const char* path) {
  // Read access too where the file allows it, so that a writer can look at the last line.
  const int fd = open_log_file(path, O_RDWR | O_APPEND | O_CREAT);
  if (fd >= 0 || errno != EACCES) return fd;
  return open_log_file(path, O_WRONLY | O_APPEND | O_CREAT);  // a write-only file
}

int create_new_file(const char* path) {
  const int fd = open_log_file(path, O_WRONLY | O_CREAT | O_EXCL);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

int create_empty_file(const char* path) {
  // Emptied only once it is known to be a file that may be emptied.
  int fd = open_log_file(path, O_WRONLY | O_CREAT);
  if (fd < 0) return -1;
  int result = ::ftruncate(fd, 0);
  int error = errno;
  ::close(fd);
  errno = error;
  return result;
}

long read_at(int fd, void* data, std::size_t size, long long offset) {
  return static_cast<long>(::pread(fd, data, size, static_cast<off_t>(offset)));
}

const SystemError& open_failure() { return last_failure; }

int close_fd(int fd) { return ::close(fd); }

long long file_size_fd(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

int truncate_fd(int fd, long long size) { return ::ftruncate(fd, static_cast<off_t>(size)); }

int file_status(const char* path, FileStatus* status) {
  struct stat st;
  if (::stat(path, &st) != 0) return -1;
  status->is_directory = S_ISDIR(st.st_mode);
  status->size = static_cast<long long>(st.st_size);
  status->modified = static_cast<long long>(st.st_mtime);
  return 0;
}

int access_read_write(const char* path) { return ::access(path, R_OK | W_OK); }

int make_dir(const char* path) { return ::mkdir(path, 0777); }

}  // namespace platform
