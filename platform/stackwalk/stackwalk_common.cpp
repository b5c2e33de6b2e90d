// OS-independent pieces of stack walking: the symbol library's name, which a test may change.
#include "platform/stackwalk/stackwalk_seam.h"

namespace platform {
namespace testing {

std::atomic<const char*>& symbol_library_override() {
  static std::atomic<const char*> name{nullptr};
  return name;
}

const char* symbol_library(const char* system_name) {
  const char* name = symbol_library_override().load();
  return name ? name : system_name;
}

}  // namespace testing
}  // namespace platform
