// Stack traces: the calling thread's stack as one line of text.
//
//   const char* where = stacktrace("%f:%l;");   // "main.cpp:12;run.cpp:40;"
//
// The format is applied once per frame, the asking function first; every character other
// than these directives is copied:
//
//   %f   the source file's base name        %p   the source file as the symbol data holds it
//   %l   the line number                    %ld  the bytes from the line's first instruction
//   %s   the function name and "()", or "?()"  %sd the bytes from the function's start
//   %m   the module's base name, or "?.?"   %%   "%"
//
// Any other "%c" is copied as it stands. A frame without line data has the file " " and
// line 0. A call that the compiler inlined is a frame of its own, ahead of the function it
// was inlined into (on Windows, where the symbol library tells them). Frames of source
// files whose names begin with "stacktrace" are left out, and a frame in
// "port_service.cpp" ends the trace with "...". A trace is at most 2047 characters, cut at
// a whole piece. The walk goes on until the text is full or the stack ends; it stops after
// 8,192 frames (the engine's own among them), and the text of a stack that goes on
// further ends with "...".
//
// The text lives in a buffer of the calling thread that its next trace overwrites: copy it
// to keep it. Failures are logged at ERROR under "sym_engine" and give the empty text; a
// symbol engine that could not start once gives the empty text for good.
//
// Threads, signals and exit: any number of threads may trace at once. A trace that starts
// while the same thread is tracing (from a signal handler that interrupted a trace, say)
// gives the empty text at once: it never waits for the trace it interrupted, and leaves that
// trace's text alone. Any other trace allocates memory and takes the engine's locks, so a
// signal handler's trace is safe only where the code it interrupted holds no lock of the C
// library's allocator. The engine is never taken down, so destructors that run at exit
// trace as main does.
#ifndef QK_DIAG_STACKTRACE_H
#define QK_DIAG_STACKTRACE_H

// The calling thread's stack, the first skip frames left out (frame 0 is this function's).
// A null format gives "" at once.
const char* stacktrace(const char* format, int skip);

// The same with one frame skipped: the first frame shown is the caller's.
const char* stacktrace(const char* format);

// The stack of a register context the caller holds (a signal handler's ucontext_t on
// POSIX, an exception handler's CONTEXT on Windows); frame 0 is the context's own.
const char* stacktrace_from_context(const void* context, const char* format, int skip);

// Logs stacktrace(format, 1) as one message when stdlog takes the level under the source
// name "stacktrace".
void log_stacktrace(int level, const char* format);

#endif
