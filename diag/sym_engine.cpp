// The stack-trace engine: capture, the walk over the platform's frames and the formatter.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "diag/stacktrace.h"
#include "log/logger.h"
#include "platform/stackwalk/stackwalk.h"

#define QK_LOG_SOURCE "sym_engine"

namespace {

LoggerGuard logger_guard;

// A trace and the terminating NUL fit in 2048 bytes.
constexpr std::size_t kTraceBuffer = 2048;
// Frames read by the first walk of a trace, on the stack; a deeper stack is walked again
// with room for four times as many, up to the limit below.
constexpr int kFramesAtFirst = 256;
// A stack deeper than this (whose frames print too little to fill the text) ends with
// "...".
constexpr int kMaxFrames = 8192;
// Code addresses whose symbols are kept; the cache starts over when it is full.
constexpr std::size_t kCacheLimit = 8192;
// A frame in this source file ends the trace with "...".
constexpr const char* kEndingFile = "port_service.cpp";

// One per thread, so that two threads tracing at once never mix their texts.
thread_local char trace_buffer[kTraceBuffer];

// Set while the thread traces. A trace that starts inside another on the same thread (a
// signal handler's, or one asked for by the logging of a problem) gives the empty text at
// once: it must neither wait for the locks its own thread holds nor write into the text
// being built.
thread_local bool tracing = false;

class TracingScope {
 public:
  TracingScope() {
    tracing = true;
    std::atomic_signal_fence(std::memory_order_seq_cst);
  }
  ~TracingScope() {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tracing = false;
  }
  TracingScope(const TracingScope&) = delete;
  TracingScope& operator=(const TracingScope&) = delete;
};

void report_problem(const char* message) {
  QK_LOG(ERROR) << message;
}

// ---- symbol cache: what the symbol data says about each code address met so far

struct SymbolCache {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, std::vector<platform::SymbolFrame>> frames;
};

// Made by the first trace and never destroyed: a destructor that runs at exit, after this
// file's module-level objects are gone, still traces.
SymbolCache& symbol_cache() {
  static SymbolCache* const cache = new SymbolCache;
  return *cache;
}

// The frames an address stands for, or nullptr when the symbol engine cannot start.
// Holds the cache's mutex.
const std::vector<platform::SymbolFrame>* symbols_for(SymbolCache& cache,
                                                      const platform::StackAddress& frame) {
  const std::uintptr_t key = frame.address * 2 + (frame.return_address ? 1 : 0);
  auto found = cache.frames.find(key);
  if (found != cache.frames.end()) return &found->second;
  std::vector<platform::SymbolFrame> symbols;
  if (!platform::lookup_symbols(frame, symbols, report_problem)) return nullptr;
  if (cache.frames.size() >= kCacheLimit) cache.frames.clear();
  return &cache.frames.emplace(key, std::move(symbols)).first->second;
}

// ---- the text being built

class TraceText {
 public:
  TraceText() { trace_buffer[0] = 0; }
  // Appends the pieces whole, or nothing once the text would reach the buffer's size.
  bool append(const char* a, std::size_t na, const char* b = "", std::size_t nb = 0) {
    if (full_ || length_ + na + nb >= kTraceBuffer) {
      full_ = true;
      return false;
    }
    std::memcpy(trace_buffer + length_, a, na);
    std::memcpy(trace_buffer + length_ + na, b, nb);
    length_ += na + nb;
    trace_buffer[length_] = 0;
    return true;
  }
  bool append(const char* text) { return append(text, std::strlen(text)); }
  bool append_number(long value) {
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    unsigned long magnitude = value < 0 ? 0ul - static_cast<unsigned long>(value)
                                        : static_cast<unsigned long>(value);
    do {
      *--p = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude);
    if (value < 0) *--p = '-';
    return append(p, static_cast<std::size_t>(end - p));
  }
  // The closing "..." goes in only while the text, the dots and the NUL stay below the
  // buffer's size.
  void close_with_dots() {
    if (length_ + 3 + 1 < kTraceBuffer) append("...", 3);
  }
  bool full() const { return full_; }

 private:
  std::size_t length_ = 0;
  bool full_ = false;
};

// The text behind the last separator ('\\' and, on every build, '/').
const char* base_name(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '\\' || *p == '/') base = p + 1;
  return base;
}

// One frame through the format; false when the text is full.
bool expand(TraceText& text, const char* format, const platform::SymbolFrame& frame,
            const char* file, const char* file_base) {
  for (const char* p = format; *p;) {
    if (*p != '%') {
      if (!text.append(p, 1)) return false;
      ++p;
      continue;
    }
    bool ok = true;
    switch (p[1]) {
      case 'f':
        ok = text.append(file_base);
        p += 2;
        break;
      case 'p':
        ok = text.append(file);
        p += 2;
        break;
      case 'l':
        if (p[2] == 'd') {
          ok = text.append_number(frame.line_displacement);
          p += 3;
        } else {
          ok = text.append_number(frame.line);
          p += 2;
        }
        break;
      case 's':
        if (p[2] == 'd') {
          ok = text.append_number(frame.symbol_displacement);
          p += 3;
        } else {
          ok = frame.function.empty()
                   ? text.append("?()", 3)
                   : text.append(frame.function.data(), frame.function.size(), "()", 2);
          p += 2;
        }
        break;
      case 'm': {
        const char* module = frame.module.empty() ? "?.?" : base_name(frame.module.c_str());
        ok = text.append(module, strnlen(module, 511));
        p += 2;
        break;
      }
      case '%':
        ok = text.append("%", 1);
        p += 2;
        break;
      case '\0':
        ok = text.append("%", 1);
        p += 1;
        break;
      default:
        ok = text.append(p, 2);
        p += 2;
        break;
    }
    if (!ok) return false;
  }
  return true;
}

// Where a trace stands after some frames.
enum class Progress { more, ended, failed };

// Adds captured frames to the text: skipped frames are passed over before any lookup.
Progress add_frames(TraceText& text, const platform::StackAddress* frames, int count,
                    const char* format, int& skip) {
  SymbolCache& cache = symbol_cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  for (int i = 0; i < count; ++i) {
    if (skip > 0) {
      --skip;
      continue;
    }
    const std::vector<platform::SymbolFrame>* symbols = symbols_for(cache, frames[i]);
    if (!symbols) return Progress::failed;
    for (const platform::SymbolFrame& frame : *symbols) {
      const char* file = frame.file.empty() ? " " : frame.file.c_str();
      const char* file_base = base_name(file);
      if (std::strncmp(file_base, "stacktrace", 10) == 0) continue;
      if (std::strcmp(file_base, kEndingFile) == 0) {
        text.close_with_dots();
        return Progress::ended;
      }
      if (!expand(text, format, frame, file, file_base)) return Progress::ended;
    }
  }
  return Progress::more;
}

// The stack of the calling thread (context null) or of a context.
__attribute__((always_inline)) inline int capture(const void* context, platform::StackAddress* frames,
                                                  int max) {
  return context ? platform::capture_stack_from_context(context, frames, max, report_problem)
                 : platform::capture_stack(frames, max, report_problem);
}

// The trace text. A stack deeper than the first walk's room is walked again with more, and
// the text goes on from the first frame that it has not seen. This code is part of the
// trace function's own frame (the frame counted first), so that every walk of one trace
// starts there and adds no frame to unwind.
__attribute__((always_inline)) inline const char* build_trace(const void* context, const char* format,
                                                              int skip) {
  platform::StackAddress first[kFramesAtFirst];
  std::vector<platform::StackAddress> more;
  platform::StackAddress* frames = first;
  int room = kFramesAtFirst;
  int seen = 0;
  TraceText text;
  for (;;) {
    const int count = capture(context, frames, room);
    if (count < 0) return seen == 0 ? "" : trace_buffer;
    if (count > seen) {
      const Progress progress = add_frames(text, frames + seen, count - seen, format, skip);
      if (progress == Progress::failed) return "";
      if (progress == Progress::ended) return trace_buffer;
    }
    if (count < room) return trace_buffer;  // the whole stack
    if (room >= kMaxFrames) {
      text.close_with_dots();
      return trace_buffer;
    }
    seen = count;
    room = room * 4 < kMaxFrames ? room * 4 : kMaxFrames;
    more.resize(static_cast<std::size_t>(room));
    frames = more.data();
  }
}

}  // namespace

const char* stacktrace(const char* format, int skip) {
  if (!format || tracing) return "";
  TracingScope scope;
  return build_trace(nullptr, format, skip);
}

const char* stacktrace_from_context(const void* context, const char* format, int skip) {
  if (!format || tracing) return "";
  TracingScope scope;
  return build_trace(context, format, skip);
}
