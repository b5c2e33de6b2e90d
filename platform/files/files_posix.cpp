// POSIX backend of files and folders. Log files are opened relative to their folder, which
// stays open from one record to the next while the path still names it.
#include "platform/files/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/files/file_failure.h"
#include "platform/files/shared_file_posix.h"

namespace platform {

using files::descriptor_failed;
using files::path_failed;

// ---- Path text

char path_separator() { return '/'; }

bool is_absolute_path(const std::string& path) { return !path.empty() && path[0] == '/'; }

void split_drive_and_directory(const std::string& path, std::string& drive, std::string& dir) {
  drive.clear();
  size_t slash = path.rfind('/');
  dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::size_t longest_path() { return 4095; }

// ---- Paths

bool file_status(const char* path, FileStatus* status) {
  struct stat st;
  if (::stat(path, &st) != 0) return path_failed(errno, "stat", path);
  status->is_directory = S_ISDIR(st.st_mode);
  status->size = static_cast<long long>(st.st_size);
  status->modified = static_cast<long long>(st.st_mtime);
  return true;
}

bool make_directory(const char* path) { return ::mkdir(path, 0777) == 0 || path_failed(errno, "mkdir", path); }

bool access_path(const char* path, int mode) {
  int how = F_OK;
  if (mode & access_write) how |= W_OK;
  if (mode & access_read) how |= R_OK;
  return ::access(path, how) == 0 || path_failed(errno, "access", path);
}

bool shared_folder_usable(const std::string& path) {
  posix::Folder folder;
  if (!posix::open_folder(path, &folder, &files::failure_to_fill())) return false;
  posix::close_folder(&folder);
  return true;
}

std::string resolved_path(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) {
    path_failed(errno, "realpath", path.c_str());
    return std::string();
  }
  std::string result = resolved;
  free(resolved);
  return result;
}

std::string current_directory() {
  std::vector<char> buffer(256);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) {
      path_failed(errno, "getcwd", "");
      return std::string();
    }
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::string full_path(const std::string& path) {
  auto separator = [](char c) { return c == '/' || c == '\\'; };
  if (!path.empty() && separator(path[0])) return path;
  const std::string here = current_directory();
  if (here.empty()) return here;
  std::string rest = path;
  while (rest.size() >= 2 && rest[0] == '.' && separator(rest[1])) rest.erase(0, 2);
  return rest.empty() || rest == "." ? here : here + "/" + rest;
}

bool change_directory(const char* dir) { return ::chdir(dir) == 0 || path_failed(errno, "chdir", dir); }

bool change_drive(char) { return true; }

// ---- Descriptors

namespace {

std::mutex folder_mutex;
// The folder of the last log file opened; made on first use, since the logger opens its
// first file during static initialisation.
posix::Folder& last_folder() {
  static auto* folder = new posix::Folder;
  return *folder;
}

// The folder part of a path as split_path gives it ("." for a bare name, "/" for a name in
// the root) equals the text.
bool folder_part_is(const char* path, const char* slash, const std::string& text) {
  if (!slash) return text == ".";
  if (slash == path) return text == "/";
  const std::size_t length = static_cast<std::size_t>(slash - path);
  return text.size() == length && std::memcmp(text.data(), path, length) == 0;
}

// Opens the file in its folder; the folder is opened again when the path now names another
// folder (or none: a removed folder is then reported as missing). The folder is compared
// without building its text, as the log writer opens a file for every record.
int open_log_file(const char* path, int flags, int permissions = 0666) {
  const char* slash = std::strrchr(path, '/');
  std::lock_guard<std::mutex> g(folder_mutex);
  posix::Folder& log_folder = last_folder();
  struct stat now;
  bool same = log_folder.fd >= 0 && folder_part_is(path, slash, log_folder.path) &&
              ::stat(log_folder.path.c_str(), &now) == 0 && now.st_dev == log_folder.status.st_dev &&
              now.st_ino == log_folder.status.st_ino;
  if (!same) {
    std::string folder_path, name;
    posix::split_path(path, &folder_path, &name);
    posix::close_folder(&log_folder);
    if (!posix::open_folder(folder_path, &log_folder, &files::failure_to_fill())) return -1;
  }
  return posix::open_in_folder(log_folder, slash ? slash + 1 : path, flags, permissions, &files::failure_to_fill());
}

}  // namespace

int open_append(const char* path) {
  // Read access too where the file allows it, so that a writer can look at the last line.
  const int fd = open_log_file(path, O_RDWR | O_APPEND | O_CREAT);
  if (fd >= 0 || errno != EACCES) return fd;
  return open_log_file(path, O_WRONLY | O_APPEND | O_CREAT);  // a write-only file
}

int open_append_only(const char* path) { return open_log_file(path, O_WRONLY | O_APPEND | O_CREAT); }

bool hold_appends(int) { return true; }

void release_appends(int) {}

bool create_new_file(const char* path) {
  const int fd = open_log_file(path, O_WRONLY | O_CREAT | O_EXCL);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool create_empty_file(const char* path, int permissions) {
  // Emptied only once it is known to be a file that may be emptied.
  const int fd = open_log_file(path, O_WRONLY | O_CREAT, permissions);
  if (fd < 0) return false;
  const bool emptied = ::ftruncate(fd, 0) == 0 || path_failed(errno, "ftruncate", path);
  ::close(fd);
  return emptied;
}

int open_shared_read(const char* path) {
  return posix::open_shared_file(path, O_RDONLY, 0, &files::failure_to_fill());
}

long write_fd(int fd, const void* data, std::size_t size) {
  const long n = static_cast<long>(::write(fd, data, size));
  if (n < 0) descriptor_failed(errno, "write", fd);
  return n;
}

long read_at(int fd, void* data, std::size_t size, long long offset) {
  const long n = static_cast<long>(::pread(fd, data, size, static_cast<off_t>(offset)));
  if (n < 0) descriptor_failed(errno, "pread", fd);
  return n;
}

bool close_fd(int fd) {
  if (::close(fd) == 0) return true;
  descriptor_failed(errno, "close", fd);
  return false;
}

long long file_size_fd(int fd) {
  struct stat st;
  if (::fstat(fd, &st) == 0) return static_cast<long long>(st.st_size);
  descriptor_failed(errno, "fstat", fd);
  return -1;
}

bool truncate_fd(int fd, long long size) {
  if (::ftruncate(fd, static_cast<off_t>(size)) == 0) return true;
  descriptor_failed(errno, "ftruncate", fd);
  return false;
}

// ---- Text files

namespace {
const int kEndOfText = 0x1A;  // Ctrl-Z: the end of a text-mode file
}  // namespace

TextReader::~TextReader() {
  if (file_) fclose(file_);
}

bool TextReader::open(const char* path) {
  if (file_) fclose(file_);
  file_ = nullptr;
  ended_ = false;
  // Opened without waiting, so that a FIFO without a writer is refused rather than waited
  // for; only a regular file is kept, and reads of it block as usual.
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return path_failed(errno, "open", path);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    const int code = errno;
    close(fd);
    return path_failed(code, "fstat", path);
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return files::path_refused(S_ISDIR(st.st_mode) ? EISDIR : EINVAL, "open", path, "it is not a regular file");
  }
  if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 || (file_ = fdopen(fd, "r")) == nullptr) {
    const int code = errno;
    close(fd);
    return path_failed(code, "open", path);
  }
  return true;
}

int TextReader::get() {
  if (!file_ || ended_) return -1;
  int c = getc(file_);
  if (c == kEndOfText) {
    ended_ = true;
    return -1;
  }
  if (c == '\r') {
    int next = getc(file_);
    if (next == '\n') return '\n';
    if (next != EOF) ungetc(next, file_);
  }
  if (c == EOF && ferror(file_)) descriptor_failed(errno, "read", fileno(file_));
  return c == EOF ? -1 : c;
}

}  // namespace platform
