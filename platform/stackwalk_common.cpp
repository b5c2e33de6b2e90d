// OS-independent pieces of stack walking: the test seam for the symbol library's name.
#include "platform/internal/stackwalk_testing.h"

#include <atomic>

namespace platform {
namespace testing {

namespace {
std::atomic<const char*> library_name{nullptr};
}

void set_symbol_library(const char* file_name) { library_name = file_name; }

const char* symbol_library(const char* system_name) {
  const char* name = library_name.load();
  return name ? name : system_name;
}

}  // namespace testing
}  // namespace platform
