// Where the profile backends find the Windows directory and the last configuration
// directory when a test has pointed them elsewhere (platform/testing/profile_testing.h
// sets them); empty: the system's own.
#ifndef QK_PLATFORM_PROFILE_PROFILE_SEAM_H
#define QK_PLATFORM_PROFILE_PROFILE_SEAM_H

#include <string>

namespace platform {
namespace testing {

std::string& windows_directory_override();
std::string& system_config_directory_override();

}  // namespace testing
}  // namespace platform

#endif
