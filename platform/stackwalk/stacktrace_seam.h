// The one place where the logger and the String module ask for the caller's stack.
//
// The stack-trace engine (diag/) sits above both of them, so they cannot call it
// directly: the engine installs its one-argument trace here when a program links it,
// and until then every request gives the empty text.
//
//   const char* where = platform::stack_text("%f:%l;");  // "logger.cpp:81;main.cpp:12;"
//
// The text lives in the engine's per-thread buffer until the thread's next trace.
//
// Threads: the engine may be installed and asked from any thread at once; each thread's text is
// its own.
#ifndef QK_PLATFORM_STACKWALK_STACKTRACE_SEAM_H
#define QK_PLATFORM_STACKWALK_STACKTRACE_SEAM_H

namespace platform {

// A trace of the calling thread in the given format, its own frame left out.
typedef const char* (*StackTextSource)(const char* format);

// Installs the engine (nullptr removes it); returns the source that was installed before.
StackTextSource set_stack_text_source(StackTextSource source);

// The calling thread's stack in the format, the first frame being the function that
// called stack_text; "" when no engine is installed or the trace fails. Never nullptr.
const char* stack_text(const char* format);

}  // namespace platform

#endif
