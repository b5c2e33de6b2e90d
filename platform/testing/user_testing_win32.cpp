// Windows: a test cannot switch users without the other user's password.
#include "platform/testing/user_testing.h"

namespace platform {
namespace testing {

bool run_as_other_user(const std::vector<std::string>&, OtherUserRun*) { return false; }

}  // namespace testing
}  // namespace platform
