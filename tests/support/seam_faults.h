// Faults made through the table of system calls (platform/file_calls.h), the same on every
// build, for what the system provokes only on some: a per-process file-size limit, as
// POSIX sets one (RLIMIT_FSIZE) and Windows has none.
//
//   platform::ScopedSystemCalls seam;
//   seam.files().write = testsupport::size_limited_write;
//   testsupport::seam_size_limit = 4096;   // -1: no limit
#ifndef QK_TESTS_SUPPORT_SEAM_FAULTS_H
#define QK_TESTS_SUPPORT_SEAM_FAULTS_H

#include <cerrno>
#include <cstddef>

#include "platform/files/files.h"

namespace testsupport {

// The limit of size_limited_write, in bytes; -1: none.
inline long long seam_size_limit = -1;

// A write as the system makes it under a file-size limit: it reaches up to the limit and
// returns short, and a write at the limit fails with EFBIG.
inline long size_limited_write(int fd, const void* data, std::size_t size) {
  if (seam_size_limit < 0) return platform::write_fd(fd, data, size);
  const long long now = platform::file_size_fd(fd);
  if (now >= seam_size_limit) {
    errno = EFBIG;
    return -1;
  }
  const long long room = seam_size_limit - now;
  return platform::write_fd(fd, data, room < static_cast<long long>(size) ? static_cast<std::size_t>(room) : size);
}

}  // namespace testsupport

#endif
