#include "platform/testing/stackwalk_testing.h"

#include "platform/stackwalk/stackwalk_seam.h"

namespace platform {
namespace testing {

void set_symbol_library(const char* file_name) { symbol_library_override() = file_name; }

}  // namespace testing
}  // namespace platform
