// Test seam: a small file system of a test's own, to fill up and see what a full disk does.
// Never used by shipped code.
//
// Threads: for a test's own thread; the volume is the process's.
#ifndef QK_PLATFORM_TESTING_VOLUME_TESTING_H
#define QK_PLATFORM_TESTING_VOLUME_TESTING_H

#include <string>

namespace platform {
namespace testing {

// Mounts an empty file system of the size (a tmpfs) on the folder, which must exist.
// False where this process may not (only root may, on Linux; Windows has no such call).
bool mount_small_volume(const std::string& folder, long long bytes);
// Unmounts it again (lazily, should a file still be open there).
void unmount_small_volume(const std::string& folder);

}  // namespace testing
}  // namespace platform

#endif
