// Files and folders: path text, the status of a path, making folders, access, the current
// directory, the descriptors the log writer and the reports write through, and a reader of
// text files that others may be writing. The calls are the C runtime's (_stat, _mkdir,
// _access, _chdir, _open, _write, _close on Windows; their POSIX namesakes), and error
// codes are the C library's on every system (2: no such file, 13: access denied,
// 17: exists).
//
// Every call answers success or failure cheaply (true, a descriptor, a count; false or -1),
// leaves the C library's error number in errno, and last_file_failure() then tells the
// thread which call failed on which object, and why:
//
//   platform::FileStatus status;
//   if (!platform::file_status(path, &status))
//     std::fprintf(stderr, "%s\n", platform::last_file_failure().text().c_str());
//     // "stat /srv/site/log: No such file or directory"
//
// The descriptor calls (write_fd, read_at, close_fd, file_size_fd, truncate_fd) build no
// text when they fail: the failure is written out when last_file_failure() asks for it.
//
// Threads: every call may come from any thread at once; last_file_failure() is the calling
// thread's, and the current directory is the process's.
#ifndef QK_PLATFORM_FILES_FILES_H
#define QK_PLATFORM_FILES_FILES_H

#include <stdio.h>

#include <cstddef>
#include <string>

#include "platform/syserror/system_error.h"

namespace platform {

// Why the last failed call of this header on this thread failed (code 0 before any).
const SystemError& last_file_failure();

// ---- Path text

// The separator of the path parts ("\\" on Windows, "/" on POSIX).
char path_separator();

// True for a path that does not depend on the current directory: on Windows one with a
// drive (":" as its second character) or one that begins with "\\"; on POSIX one that
// begins with "/".
bool is_absolute_path(const std::string& path);

// The drive (Windows: "C:", else empty) and the directory, with its trailing separator,
// of a file path (_splitpath); the directory is empty for a bare file name.
void split_drive_and_directory(const std::string& path, std::string& drive, std::string& dir);

// The most characters a path may have for files to be opened by it (259 on Windows, where
// a path must fit MAX_PATH with its zero byte; 4095 on POSIX).
std::size_t longest_path();

// ---- Paths

struct FileStatus {
  bool is_directory = false;
  long long size = 0;
  long long modified = 0;  // seconds since 1970
};
// The status of what the path names (code 2 when nothing is there).
bool file_status(const char* path, FileStatus* status);

// Makes one folder (its parent must exist), open to everyone less the file-creation mask
// (code 17 when something is there already).
bool make_directory(const char* path);

// Makes the folder base when it is missing (its parent must exist), then each missing level
// of below in it ("a/b": base/a, then base/a/b; "" for base alone). True when the whole
// path is a folder now; else the failure of the last level that could not be made (code 17
// when something else is in its place), or code 20 ("not a directory") when the path names
// something that is not a folder.
bool make_directories(const std::string& base, const char* below);

// The modes of access_path, as _access numbers them.
enum AccessMode : int { access_exists = 0, access_write = 2, access_read = 4, access_read_write = 6 };
// True when the path exists and the process may use it in the mode (an AccessMode, or the
// C runtime's number for one).
bool access_path(const char* path, int mode);

// True when the folder exists and may hold files that the processes of an installation
// share: on POSIX it is not another user's symbolic link, and it belongs to this user or
// root or lies in a folder that not every user may write (a folder planted in /tmp does
// not serve). Windows accepts any existing folder.
bool shared_folder_usable(const std::string& path);

// The folder's path with every symbolic link on the way resolved (realpath), or "" when it
// cannot be had. Windows gives the path as it is.
std::string resolved_path(const std::string& path);

// The current directory, or "" when it cannot be had.
std::string current_directory();

// The path as every process may read it, whatever its current directory: a full path stays
// as given; a relative one is taken from the current directory ("./" in front dropped).
// Either separator counts ('\\' stands for '/' on POSIX too, as the framework's path
// rules have it; the caller turns them into '/'). On Windows a path from the root of the
// current drive ("\\x") gains that drive, and a drive's relative path ("C:x") that drive's
// current folder: what GetFullPathNameA makes of it (Wine reads "/x" as the POSIX path).
// "" when the current directory cannot be had.
std::string full_path(const std::string& path);

// _chdir: true when the directory became the current one.
bool change_directory(const char* dir);

// _chdrive with the drive's letter: true when it became the current drive. POSIX has no
// drives: always true.
bool change_drive(char letter);

// ---- Descriptors

// Opens the log file for appending, creating it with read and write permission for
// everyone less the file-creation mask (which is never changed); the descriptor or -1.
// Bytes are written unchanged. The descriptor reads too where the file allows it (read_at),
// so that a writer can look at the file's last line. On POSIX the file is opened relative
// to its folder (kept open between calls), never through a symbolic link, and refused
// unless it is a regular file with one name whose owner may write the folder; the failure
// then says what is in the way (object_in_the_way) and what to remove.
int open_append(const char* path);
// Opens the file, creating it as open_append does, for appending only: each write goes to
// the file's end (on Windows the descriptor has no right to write anywhere else). No
// cutting through this descriptor. The descriptor or -1.
int open_append_only(const char* path);
// A write between hold_appends and release_appends lands whole at the end of a file opened
// by open_append_only, even while other processes append to it the same way. POSIX appends
// to a regular file are whole already; Windows (and Wine, which runs its programs here)
// may place two appends at the same end, so there the file's appenders take turns by a
// lock far beyond any file's end, waiting for each other. hold_appends is false when the
// lock could not be had (the write may still be made, with no promise).
bool hold_appends(int fd);
void release_appends(int fd);
// Creates the file, which must not exist yet, empty, as open_append does (code 17 when
// something is there already). Never truncates.
bool create_new_file(const char* path);
// Makes the file empty, creating it as open_append does, with the permission bits given
// less the file-creation mask (Windows, which has no group and other bits, makes every
// new file readable and writable).
bool create_empty_file(const char* path, int permissions = 0666);

// Opens a log file for reading only, with the care open_append takes: on POSIX relative
// to its checked folder, never through a symbolic link, without waiting on a FIFO, and
// refused unless it is a regular file with one name whose owner may write the folder (the
// failure then says what is in the way). Windows refuses anything but a regular file. The
// descriptor, or -1 (code 2 when there is no such file).
int open_shared_read(const char* path);

// Writes the bytes to the descriptor in one call; the count written, or -1.
long write_fd(int fd, const void* data, std::size_t size);
// Reads up to size bytes at the offset of the open file; the count read, or -1.
long read_at(int fd, void* data, std::size_t size, long long offset);
bool close_fd(int fd);
// The size of the open file, or -1.
long long file_size_fd(int fd);
// Sets the size of the open file (_chsize): cuts it, or lengthens it with zero bytes.
bool truncate_fd(int fd, long long size);

// A write past the process's file-size limit fails with EFBIG instead of ending the
// process (POSIX raises SIGXFSZ, whose default action kills). Installs a handler that does
// nothing, unless the program has chosen an action of its own; programs it starts get the
// default action again. Nothing on Windows, which has no such limit.
void fail_writes_past_size_limit();

// ---- Text files

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

  bool open(const char* path);
  // The next byte (0 to 255), or -1 at the end of the file or on a read error.
  int get();

 private:
  FILE* file_ = nullptr;
  bool ended_ = false;  // a Ctrl-Z was read
};

}  // namespace platform

#endif
