// POSIX backend of file descriptors.
#include "platform/fileio.h"

#include <unistd.h>

namespace platform {

long write_fd(int fd, const void* data, std::size_t size) {
  return static_cast<long>(::write(fd, data, size));
}

}  // namespace platform
