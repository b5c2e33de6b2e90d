// For tests only: points the Windows directory and the last configuration directory at
// folders of the test's own. An empty text restores the system's directory.
//
// Threads: a test sets the directories while no other thread reads the settings.
#ifndef QK_PLATFORM_TESTING_PROFILE_TESTING_H
#define QK_PLATFORM_TESTING_PROFILE_TESTING_H

#include <string>

namespace platform {
namespace testing {

void set_windows_directory(const std::string& dir);
void set_system_config_directory(const std::string& dir);

}  // namespace testing
}  // namespace platform

#endif
