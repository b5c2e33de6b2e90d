// OS-independent pieces of the profile concept: the test seam for the system directories.
#include "platform/internal/profile_testing.h"

namespace platform {
namespace testing {

namespace {
std::string& windows_dir() {
  static std::string dir;
  return dir;
}
std::string& config_dir() {
  static std::string dir;
  return dir;
}
}  // namespace

void set_windows_directory(const std::string& dir) { windows_dir() = dir; }
void set_system_config_directory(const std::string& dir) { config_dir() = dir; }
const std::string& windows_directory_override() { return windows_dir(); }
const std::string& system_config_directory_override() { return config_dir(); }

}  // namespace testing
}  // namespace platform
