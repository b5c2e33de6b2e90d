// File descriptors as the C runtime keeps them (_write on Windows, write on POSIX).
#ifndef QK_PLATFORM_FILEIO_H
#define QK_PLATFORM_FILEIO_H

#include <cstddef>

namespace platform {

// Writes the bytes to the descriptor in one call; the count written, or -1.
long write_fd(int fd, const void* data, std::size_t size);

}  // namespace platform

#endif
