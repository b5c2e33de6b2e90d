// POSIX backend of the files concept.
#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>


extern char** environ;

namespace platform {

namespace {
const int kEndOfText = 0x1A;  // Ctrl-Z: the end of a text-mode file
}  // namespace

char path_separator() { return '/'; }

bool is_absolute_path(const std::string& path) { return !path.empty() && path[0] == '/'; }

void split_drive_and_directory(const std::string& path, std::string& drive, std::string& dir) {
  drive.clear();
  size_t slash = path.rfind('/');
  dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

TextReader::~TextReader() {
  if (file_) fclose(file_);
}

bool TextReader::open(const std::string& path) {
  if (file_) fclose(file_);
  file_ = nullptr;
  ended_ = false;
  // Opened without waiting, so that a FIFO without a writer is refused rather than waited
  // for; only a regular file is kept, and reads of it block as usual.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    return false;
  }
  file_ = fdopen(fd, "r");
  if (!file_) close(fd);
  return file_ != nullptr;
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
  return c == EOF ? -1 : c;
}

int access_path(const std::string& path, int mode) {
  int how = F_OK;
  if (mode & 2) how |= W_OK;
  if (mode & 4) how |= R_OK;
  return access(path.c_str(), how) == 0 ? 0 : -1;
}

int change_file_size(int fd, long size) { return ftruncate(fd, size) == 0 ? 0 : -1; }

bool change_directory(const std::string& dir) { return chdir(dir.c_str()) == 0; }

bool change_drive(char) { return true; }

}  // namespace platform
