// OS-independent pieces of the profile concept: the directories a test may point elsewhere.
#include "platform/profile/profile_seam.h"

namespace platform {
namespace testing {

// Never destroyed: the settings may be loaded as late as an exit-time destructor.
std::string& windows_directory_override() {
  static std::string* dir = new std::string;
  return *dir;
}

std::string& system_config_directory_override() {
  static std::string* dir = new std::string;
  return *dir;
}

}  // namespace testing
}  // namespace platform
