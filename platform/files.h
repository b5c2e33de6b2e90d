// Files and directories as the framework's settings and wrappers use them: reading a text
// file that others may be writing, testing paths, and a few C runtime calls.
#ifndef QK_PLATFORM_FILES_H
#define QK_PLATFORM_FILES_H

#include <stdio.h>

#include <string>

namespace platform {

// The separator of the path parts ("\\" on Windows, "/" on POSIX).
char path_separator();

// True for a path that does not depend on the current directory: on Windows one with a
// drive (":" as its second character) or one that begins with "\\"; on POSIX one that
// begins with "/".
bool is_absolute_path(const std::string& path);

// The drive (Windows: "C:", else empty) and the directory, with its trailing separator,
// of a file path (_splitpath); the directory is empty for a bare file name.
void split_drive_and_directory(const std::string& path, std::string& drive, std::string& dir);

// A text file opened for reading, shared for reading and writing by others, read as the
// Windows C runtime's text mode reads it on every build: a CR LF pair reads as one LF, and
// a Ctrl-Z (0x1A) ends the file. Only a regular file opens: a directory, a FIFO or a
// device does not (and a FIFO without a writer does not block the opening).
class TextReader {
 public:
  TextReader() = default;
  ~TextReader();
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;

  bool open(const std::string& path);
  // The next byte (0 to 255), or -1 at the end of the file or on a read error.
  int get();

 private:
  FILE* file_ = nullptr;
  bool ended_ = false;  // a Ctrl-Z was read
};

// _access: 0 when the path exists and allows the mode (0 exists, 2 write, 4 read,
// 6 both), else -1.
int access_path(const std::string& path, int mode);

// _chsize: sets the size of the open file; 0 or -1.
int change_file_size(int fd, long size);

// _chdir: true when the directory became the current one.
bool change_directory(const std::string& dir);

// _chdrive with the drive's letter: true when it became the current drive. POSIX has no
// drives: always true.
bool change_drive(char letter);

}  // namespace platform

#endif
