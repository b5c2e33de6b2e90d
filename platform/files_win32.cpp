// Windows backend of the files concept: the C runtime's calls.
#include "platform/files.h"

#include <windows.h>

#include <direct.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace platform {

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

TextReader::~TextReader() {
  if (file_) fclose(file_);
}

bool TextReader::open(const std::string& path) {
  if (file_) fclose(file_);
  ended_ = false;
  file_ = _fsopen(path.c_str(), "r", _SH_DENYNO);
  if (!file_) return false;
  struct _stat st;
  if (_fstat(_fileno(file_), &st) != 0 || !(st.st_mode & _S_IFREG)) {
    fclose(file_);
    file_ = nullptr;
  }
  return file_ != nullptr;
}

int TextReader::get() {
  if (!file_ || ended_) return -1;
  // Text mode turns CR LF into LF and ends the file at a Ctrl-Z; the check below only
  // keeps that true whichever C runtime the program runs on.
  int c = getc(file_);
  if (c == 0x1A) ended_ = true;
  return c == EOF || ended_ ? -1 : c;
}

int access_path(const std::string& path, int mode) { return _access(path.c_str(), mode); }

int change_file_size(int fd, long size) { return _chsize(fd, size) == 0 ? 0 : -1; }

bool change_directory(const std::string& dir) { return _chdir(dir.c_str()) == 0; }

bool change_drive(char letter) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return false;
  return _chdrive(letter - 'A' + 1) == 0;
}

}  // namespace platform
