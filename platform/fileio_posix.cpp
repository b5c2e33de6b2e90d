// POSIX backend of file descriptors.
#include "platform/fileio.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

long write_fd(int fd, const void* data, std::size_t size) {
  return static_cast<long>(::write(fd, data, size));
}

int open_append(const char* path) {
  const int fd = ::open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd >= 0 || errno != EACCES) return fd;
  return ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);  // a write-only file
}

int create_new_file(const char* path) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

long read_at(int fd, void* data, std::size_t size, long long offset) {
  return static_cast<long>(::pread(fd, data, size, static_cast<off_t>(offset)));
}

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

int set_umask(int mask) { return static_cast<int>(::umask(static_cast<mode_t>(mask))); }

int make_readable_writable(const char* path) { return ::chmod(path, 0666); }

int access_read_write(const char* path) { return ::access(path, R_OK | W_OK); }

int make_dir(const char* path) { return ::mkdir(path, 0777); }

}  // namespace platform
