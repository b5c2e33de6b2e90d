// Windows backend of files and folders: the C runtime's calls.
#include "platform/files/files.h"

#include <windows.h>

#include <direct.h>
#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/files/file_failure.h"

namespace platform {

using files::descriptor_failed;
using files::path_failed;

// ---- Path text

char path_separator() { return '\\'; }

bool is_absolute_path(const std::string& path) {
  return (path.size() > 1 && path[1] == ':') || (!path.empty() && path[0] == '\\');
}

void split_drive_and_directory(const std::string& path, std::string& drive, std::string& dir) {
  char d[_MAX_DRIVE] = {0};
  char folder[_MAX_DIR] = {0};
  _splitpath(path.c_str(), d, folder, nullptr, nullptr);
  drive = d;
  dir = folder;
}

std::size_t longest_path() { return 259; }

// ---- Paths

bool file_status(const char* path, FileStatus* status) {
  struct _stat64 st;
  if (_stat64(path, &st) != 0) return path_failed(errno, "_stat", path);
  status->is_directory = (st.st_mode & _S_IFDIR) != 0;
  status->size = static_cast<long long>(st.st_size);
  status->modified = static_cast<long long>(st.st_mtime);
  return true;
}

bool make_directory(const char* path) { return _mkdir(path) == 0 || path_failed(errno, "_mkdir", path); }

bool access_path(const char* path, int mode) {
  return _access(path, mode) == 0 || path_failed(errno, "_access", path);
}

bool shared_folder_usable(const std::string& path) {
  FileStatus status;
  if (!file_status(path.c_str(), &status)) return false;
  return status.is_directory || path_failed(ENOTDIR, "_stat", path.c_str());
}

std::string resolved_path(const std::string& path) { return path; }

std::string current_directory() {
  char* text = _getcwd(nullptr, 0);
  if (!text) {
    path_failed(errno, "_getcwd", "");
    return std::string();
  }
  std::string path = text;
  free(text);
  return path;
}

std::string full_path(const std::string& path) {
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  const bool drive_and_root = path.size() > 2 && path[1] == ':' && separator(path[2]);
  const bool network = path.size() > 1 && separator(path[0]) && separator(path[1]);
  if (drive_and_root || network) return path;
  const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) {
    path_failed(EINVAL, "GetFullPathNameA", path.c_str());
    return std::string();
  }
  std::string full(needed, '\0');
  const DWORD written = GetFullPathNameA(path.c_str(), needed, &full[0], nullptr);
  if (written == 0 || written >= needed) {
    path_failed(EINVAL, "GetFullPathNameA", path.c_str());
    return std::string();
  }
  full.resize(written);
  return full;
}

bool change_directory(const char* dir) { return _chdir(dir) == 0 || path_failed(errno, "_chdir", dir); }

bool change_drive(char letter) {
  const char name[3] = {letter, ':', '\0'};
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return path_failed(EINVAL, "_chdrive", name);
  return _chdrive(letter - 'A' + 1) == 0 || path_failed(errno, "_chdrive", name);
}

// ---- Descriptors

namespace {

const int kCreateMode = _S_IREAD | _S_IWRITE;

int open_file(const char* path, int flags) {
  const int fd = _open(path, flags | _O_BINARY | _O_NOINHERIT, kCreateMode);
  if (fd < 0) path_failed(errno, "_open", path);
  return fd;
}

}  // namespace

int open_append(const char* path) {
  // Read access too where the file allows it, so that a writer can look at the last line.
  const int fd = open_file(path, _O_RDWR | _O_APPEND | _O_CREAT);
  if (fd >= 0 || errno != EACCES) return fd;
  return open_file(path, _O_WRONLY | _O_APPEND | _O_CREAT);  // a write-only file
}

int open_append_only(const char* path) {
  // Reading too, which a byte-range lock needs; writing only at the end.
  const HANDLE h = CreateFileA(path, FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const int code = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT
                     : error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? EACCES
                                                                                        : EIO;
    path_failed(code, "CreateFileA", path);
    return -1;
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    files::path_refused(EACCES, "CreateFileA", path, "it is not a regular file; remove it");
    return -1;
  }
  // Binary, as every descriptor here: the bytes are written unchanged.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND);
  if (fd < 0) {
    CloseHandle(h);
    path_failed(EMFILE, "_open_osfhandle", path);
  }
  return fd;
}

namespace {

// The byte the appenders lock: far beyond the end of any file they write.
OVERLAPPED turn_byte() {
  OVERLAPPED at = {};
  at.Offset = 0xFFFFFFF0u;
  at.OffsetHigh = 0x7FFFFFFFu;
  return at;
}

}  // namespace

bool hold_appends(int fd) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED at = turn_byte();
  return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
}

void release_appends(int fd) {
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE) return;
  OVERLAPPED at = turn_byte();
  UnlockFileEx(h, 0, 1, 0, &at);
}

int open_shared_read(const char* path) {
  const int fd = _open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) {
    path_failed(errno, "_open", path);
    return -1;
  }
  struct _stat64 st;
  if (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
    _close(fd);
    files::path_refused(EACCES, "_open", path, "it is not a regular file; remove it");
    return -1;
  }
  return fd;
}

bool create_new_file(const char* path) {
  const int fd = open_file(path, _O_WRONLY | _O_CREAT | _O_EXCL);
  if (fd < 0) return false;
  _close(fd);
  return true;
}

bool create_empty_file(const char* path, int /*permissions*/) {
  const int fd = open_file(path, _O_WRONLY | _O_TRUNC | _O_CREAT);
  if (fd < 0) return false;
  _close(fd);
  return true;
}

long write_fd(int fd, const void* data, std::size_t size) {
  const long n = static_cast<long>(_write(fd, data, static_cast<unsigned>(size)));
  if (n < 0) descriptor_failed(errno, "_write", fd);
  return n;
}

long read_at(int fd, void* data, std::size_t size, long long offset) {
  // Writes append whatever the position, so moving it is harmless.
  if (_lseeki64(fd, offset, SEEK_SET) < 0) {
    descriptor_failed(errno, "_lseeki64", fd);
    return -1;
  }
  const long n = static_cast<long>(_read(fd, data, static_cast<unsigned>(size)));
  if (n < 0) descriptor_failed(errno, "_read", fd);
  return n;
}

bool close_fd(int fd) {
  if (_close(fd) == 0) return true;
  descriptor_failed(errno, "_close", fd);
  return false;
}

long long file_size_fd(int fd) {
  const long long size = _filelengthi64(fd);
  if (size < 0) descriptor_failed(errno, "_filelengthi64", fd);
  return size;
}

bool truncate_fd(int fd, long long size) {
  const errno_t code = _chsize_s(fd, size);
  if (code == 0) return true;
  descriptor_failed(code, "_chsize_s", fd);
  return false;
}

// ---- Text files

TextReader::~TextReader() {
  if (file_) fclose(file_);
}

bool TextReader::open(const char* path) {
  if (file_) fclose(file_);
  ended_ = false;
  file_ = _fsopen(path, "r", _SH_DENYNO);
  if (!file_) return path_failed(errno, "fopen", path);
  struct _stat64 st;
  if (_fstat64(_fileno(file_), &st) != 0) {
    const int code = errno;
    fclose(file_);
    file_ = nullptr;
    return path_failed(code, "_fstat", path);
  }
  if (!(st.st_mode & _S_IFREG)) {
    fclose(file_);
    file_ = nullptr;
    return files::path_refused((st.st_mode & _S_IFDIR) ? EISDIR : EINVAL, "fopen", path, "it is not a regular file");
  }
  return true;
}

int TextReader::get() {
  if (!file_ || ended_) return -1;
  // Text mode turns CR LF into LF and ends the file at a Ctrl-Z; the check below only
  // keeps that true whichever C runtime the program runs on.
  int c = getc(file_);
  if (c == 0x1A) ended_ = true;
  if (c == EOF && ferror(file_)) descriptor_failed(errno, "read", _fileno(file_));
  return c == EOF || ended_ ? -1 : c;
}

}  // namespace platform
