// Linux: a tmpfs of the size asked for.
#include <sys/mount.h>

#include "platform/testing/volume_testing.h"

namespace platform {
namespace testing {

bool mount_small_volume(const std::string& folder, long long bytes) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
  return mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

void unmount_small_volume(const std::string& folder) { umount2(folder.c_str(), MNT_DETACH); }

}  // namespace testing
}  // namespace platform
