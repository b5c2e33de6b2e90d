// Stack walking and symbols: the code addresses of a thread's stack, and the function,
// source file, line and module behind each of them.
//
// Windows captures the calling thread's registers with a short-lived worker thread and
// walks them with the debugging-help library (dbghelp.dll, psapi.dll and the tool-help
// functions, all looked up at run time). POSIX unwinds the calling thread itself and reads
// the DWARF data through elfutils' libdw.
//
// Failures are not logged here (this layer sits below the logger): each one is handed to
// the caller's problem sink as the message the engine logs, and the walk ends short.
//
// Threads: any thread may walk its own stack while others walk theirs; symbol lookups take turns
// on the one engine.
#ifndef QK_PLATFORM_STACKWALK_STACKWALK_H
#define QK_PLATFORM_STACKWALK_STACKWALK_H

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Receives the text of every failure met while walking or looking up symbols.
typedef void (*StackProblemSink)(const char* message);

// One frame of a walk. A return address points behind its call instruction; the lookup
// steps back into the call so that the call's own line is named.
struct StackAddress {
  std::uintptr_t address = 0;
  bool return_address = false;
};

// Fills frames (at most max) with the calling thread's stack, frame 0 being the function
// that called capture_stack; answers the number of frames, or -1 when the capture failed
// (the problem has been reported). Callers do not skip frames of this layer.
int capture_stack(StackAddress* frames, int max, StackProblemSink problem);

// The same for a register context the caller holds: a ucontext_t on POSIX (from a signal
// handler's third argument or getcontext), a CONTEXT on Windows. Frame 0 is the context's
// own instruction. -1 when the context cannot be walked.
int capture_stack_from_context(const void* context, StackAddress* frames, int max,
                               StackProblemSink problem);

// What the symbol data says about one code address.
struct SymbolFrame {
  std::string function;            // qualified name without parameters; "" when unknown
  std::string file;                // source file as the symbol data holds it; "" when unknown
  int line = 0;                    // 0 when unknown
  long line_displacement = 0;      // bytes from the line's first instruction
  long symbol_displacement = 0;    // bytes from the function's start
  std::string module;              // the module's file name (full path); "" when unknown
};

// Appends the frames that the address stands for. An address inside inlined code gives
// one frame per inlined call, innermost first, each naming the function its line belongs
// to; otherwise one frame. Answers false (nothing appended) when the symbol engine could
// not start, which is final for the process.
bool lookup_symbols(const StackAddress& frame, std::vector<SymbolFrame>& out,
                    StackProblemSink problem);

}  // namespace platform

#endif
