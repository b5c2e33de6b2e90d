// Compiled into every program that links the stack-trace engine: installs the engine
// behind the stack-text seam during static initialisation, so that SEVERE_ERROR records
// and traced String representations say where they came from. The one-argument trace is
// installed itself: this file may be built without line data, and a frame of its own
// would then show in every trace.
#include "diag/stacktrace.h"
#include "platform/stackwalk/stacktrace_seam.h"

namespace {

struct StacktraceInstall {
  StacktraceInstall() {
    platform::set_stack_text_source(static_cast<const char* (*)(const char*)>(stacktrace));
  }
} stacktrace_install;

}  // namespace
