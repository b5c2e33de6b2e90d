// Windows backend of file descriptors: the C runtime's _open, _write, _close, _stat,
// _access and _mkdir.
#include "platform/fileio.h"

#include <direct.h>
#include <errno.h>
#include <stdio.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace platform {

long write_fd(int fd, const void* data, std::size_t size) {
  return static_cast<long>(_write(fd, data, static_cast<unsigned>(size)));
}

namespace {

thread_local SystemError last_failure;

int opened(int fd, const char* path) {
  if (fd < 0) last_failure = SystemError{static_cast<unsigned long>(errno), std::string("_open ") + path, std::string(), false, true};
  return fd;
}

}  // namespace

int open_append(const char* path) {
  const int fd = _open(path, _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                       _S_IREAD | _S_IWRITE);
  if (fd >= 0 || errno != EACCES) return opened(fd, path);
  return opened(_open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                      _S_IREAD | _S_IWRITE), path);
}

int create_new_file(const char* path) {
  const int fd = opened(_open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                              _S_IREAD | _S_IWRITE), path);
  if (fd < 0) return errno;
  _close(fd);
  return 0;
}

int create_empty_file(const char* path) {
  int fd = opened(_open(path, _O_WRONLY | _O_TRUNC | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                        _S_IREAD | _S_IWRITE), path);
  return fd < 0 ? -1 : _close(fd);
}

const SystemError& open_failure() { return last_failure; }

long read_at(int fd, void* data, std::size_t size, long long offset) {
  // Writes append whatever the position, so moving it is harmless.
  if (_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
  return static_cast<long>(_read(fd, data, static_cast<unsigned>(size)));
}

int close_fd(int fd) { return _close(fd); }

long long file_size_fd(int fd) { return _filelengthi64(fd); }

int truncate_fd(int fd, long long size) { return _chsize_s(fd, size) == 0 ? 0 : -1; }

int file_status(const char* path, FileStatus* status) {
  struct _stat64 st;
  if (_stat64(path, &st) != 0) return -1;
  status->is_directory = (st.st_mode & _S_IFDIR) != 0;
  status->size = static_cast<long long>(st.st_size);
  status->modified = static_cast<long long>(st.st_mtime);
  return 0;
}

int access_read_write(const char* path) { return _access(path, 6); }

int make_dir(const char* path) { return _mkdir(path); }

}  // namespace platform
