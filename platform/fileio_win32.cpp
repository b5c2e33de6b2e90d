// Windows backend of file descriptors: the C runtime's _write.
#include "platform/fileio.h"

#include <io.h>

namespace platform {

long write_fd(int fd, const void* data, std::size_t size) {
  return static_cast<long>(_write(fd, data, static_cast<unsigned>(size)));
}

}  // namespace platform
