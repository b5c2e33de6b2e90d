// Compiled into every program that links the stack-trace engine: installs the engine
// behind the stack-text seam during static initialisation, so that SEVERE_ERROR records
// and traced String representations say where they came from.
#include "diag/stacktrace.h"
#include "platform/stacktrace_seam.h"

namespace {

const char* one_argument_trace(const char* format) { return stacktrace(format); }

struct StacktraceInstall {
  StacktraceInstall() { platform::set_stack_text_source(one_argument_trace); }
} stacktrace_install;

}  // namespace
