// Files as the log writer uses them, over the C runtime's descriptors (_open, _write,
// _close, _stat, _access, _mkdir on Windows; their POSIX namesakes). Failures answer -1
// (or false) and leave the C library's error number in errno.
#ifndef QK_PLATFORM_FILEIO_H
#define QK_PLATFORM_FILEIO_H

#include <cstddef>

#include "platform/system_error.h"

namespace platform {

// Writes the bytes to the descriptor in one call; the count written, or -1.
long write_fd(int fd, const void* data, std::size_t size);

// Opens the log file for appending, creating it with read and write permission for
// everyone less the file-creation mask (which is never changed); the descriptor or -1.
// Bytes are written unchanged. The descriptor reads too where the file allows it (read_at),
// so that a writer can look at the file's last line. On POSIX the file is opened relative
// to its folder (kept open between calls), never through a symbolic link, and refused
// unless it is a regular file with one name whose owner may write the folder;
// open_failure() then tells why.
int open_append(const char* path);
// Creates the file, which must not exist yet, empty, as open_append does; 0, or the error
// number (17 when something is there already). Never truncates.
int create_new_file(const char* path);
// Makes the file empty, creating it as open_append does; 0, or -1.
int create_empty_file(const char* path);
// Why the last open_append, create_new_file or create_empty_file of this thread failed.
const SystemError& open_failure();
// Reads up to size bytes at the offset of the open file; the count read, or -1.
long read_at(int fd, void* data, std::size_t size, long long offset);
// A write past the process's file-size limit fails with EFBIG instead of ending the
// process (POSIX raises SIGXFSZ, whose default action kills). Installs a handler that does
// nothing, unless the program has chosen an action of its own; programs it starts get the
// default action again. Nothing on Windows, which has no such limit.
void fail_writes_past_size_limit();
int close_fd(int fd);
// The size of the open file, or -1.
long long file_size_fd(int fd);
// Cuts the open file to the size; 0, or -1.
int truncate_fd(int fd, long long size);

struct FileStatus {
  bool is_directory = false;
  long long size = 0;
  long long modified = 0;  // seconds since 1970
};
// 0 and the status, or -1 (errno ENOENT when the path does not exist).
int file_status(const char* path, FileStatus* status);

// 0 when the process may read and write the path.
int access_read_write(const char* path);
// Makes one directory (its parent must exist) open to everyone, less the mask.
int make_dir(const char* path);

}  // namespace platform

#endif
