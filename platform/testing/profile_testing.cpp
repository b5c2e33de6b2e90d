#include "platform/testing/profile_testing.h"

#include "platform/profile/profile_seam.h"

namespace platform {
namespace testing {

void set_windows_directory(const std::string& dir) { windows_directory_override() = dir; }
void set_system_config_directory(const std::string& dir) { system_config_directory_override() = dir; }

}  // namespace testing
}  // namespace platform
