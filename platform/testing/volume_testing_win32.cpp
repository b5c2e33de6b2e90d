// Windows: a test cannot mount a volume of its own.
#include "platform/testing/volume_testing.h"

namespace platform {
namespace testing {

bool mount_small_volume(const std::string&, long long) { return false; }
void unmount_small_volume(const std::string&) {}

}  // namespace testing
}  // namespace platform
