// The stack-text seam. This file's name begins with "stacktrace", so the engine leaves
// its frames out of every trace, whether or not the compiler keeps them.
#include "platform/stackwalk/stacktrace_seam.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<StackTextSource> installed_source{nullptr};
}

StackTextSource set_stack_text_source(StackTextSource source) {
  return installed_source.exchange(source);
}

const char* stack_text(const char* format) {
  const StackTextSource source = installed_source.load(std::memory_order_acquire);
  const char* text = source ? source(format) : nullptr;
  return text ? text : "";
}

}  // namespace platform
