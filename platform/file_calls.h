// The file calls through which the log writer reaches the files: one table, so that a test
// can make the Nth open or write fail with a chosen error on every build (a full disk, a
// process out of descriptors), where the system offers no way to provoke it.
//
//   platform::ScopedFileCalls faults;             // the current table, restored at the end
//   faults.calls().write = failing_write;        // every later write through the table fails
#ifndef QK_PLATFORM_FILE_CALLS_H
#define QK_PLATFORM_FILE_CALLS_H

#include <cstddef>

namespace platform {

struct FileCalls {
  // open_append of fileio.h: the descriptor, or -1 with errno set.
  int (*open_append)(const char* path);
  // write_fd of fileio.h: the count written, or -1 with errno set.
  long (*write)(int fd, const void* data, std::size_t size);
  // create_new_file of fileio.h: 0, or the error number.
  int (*create_new)(const char* path);
};

// The table in use; it starts with the fileio.h calls.
FileCalls& file_calls();

// Keeps a copy of the table and puts it back when it goes.
class ScopedFileCalls {
 public:
  ScopedFileCalls() : saved_(file_calls()) {}
  ~ScopedFileCalls() { file_calls() = saved_; }
  ScopedFileCalls(const ScopedFileCalls&) = delete;
  ScopedFileCalls& operator=(const ScopedFileCalls&) = delete;
  FileCalls& calls() { return file_calls(); }
  const FileCalls& original() const { return saved_; }

 private:
  FileCalls saved_;
};

}  // namespace platform

#endif
