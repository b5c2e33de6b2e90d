// Error reports, warnings, the debugging switches and the trace check of representations.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "env/env.h"
#include "log/logger.h"
#include "platform/stackwalk/stacktrace_seam.h"
#include "string/String.h"
#include "string/internal/string_internal.h"

namespace string_internal {
bool trace_switch = false;
bool no_sharing_switch = false;
}  // namespace string_internal

namespace {

LoggerGuard logger_guard;

const char* const stars = "***************";

string_internal::ReportObserver report_observer = nullptr;

// QK_FATAL_STRING_ERROR, read at the first report (of any thread): -1 not read yet, else 0
// or 1.
std::atomic<int> fatal_string_errors{-1};

void record(int line, int level, const std::string& text) {
  if (report_observer) report_observer(level, text.c_str());
  QK_LOG_AT("String", line, level) << text;
}

// The trace slot of a pooled representation, or nullptr.
void** trace_slot(const ALLOCATOR_QK& pool, const StringRep* rep) {
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(rep);
  for (const ALLOCATOR_QK::Hunk* hunk = pool.hunks(); hunk; hunk = hunk->next) {
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(hunk->block);
    if (address >= start && address < start + pool.hunkLength()) {
      if (!hunk->trace_slots) return nullptr;
      return &hunk->trace_slots[(address - start) / pool.objectSize()];
    }
  }
  return nullptr;
}

}  // namespace

void string_error(int number, const char* message, int level) {
  int fatal = fatal_string_errors.load(std::memory_order_relaxed);
  if (fatal < 0) {
    fatal = env_lookup("QK_FATAL_STRING_ERROR", 0) != nullptr;
    fatal_string_errors.store(fatal, std::memory_order_relaxed);
  }
  const int message_level = fatal ? static_cast<int>(FATAL) : level;
  record(__LINE__, ERROR, stars);
  record(__LINE__, message_level, std::string("* STRING ERROR: ") + (message ? message : "") + " " +
                                      std::to_string(number));
  record(__LINE__, message_level == ERROR ? static_cast<int>(SEVERE_ERROR) : message_level, stars);
}

void string_warning(const char* message) {
  record(__LINE__, WARNING, std::string("String warning:  ") + (message ? message : ""));
}

void string_warning(const char* message, int number) {
  record(__LINE__, WARNING, std::string("String warning:  ") + (message ? message : "") + " " +
                                std::to_string(number));
}

void string_debug_switches(int trace, int no_sharing) {
  string_internal::trace_switch = trace != 0;
  string_internal::no_sharing_switch = no_sharing != 0;
}

namespace string_internal {

void set_report_observer(ReportObserver observer) { report_observer = observer; }

TraceMatch trace_pattern_match(const char* pattern, const char* text, int length) {
  const char* p = pattern;
  int i = 0;
  while (i < length) {
    if (*p == 0) return TRACE_STOP;
    if (*p == '*') {
      if (p[1] == 0) return TRACE_MATCH;
      const int rest = static_cast<int>(std::strlen(p + 1));
      if (length - i < rest) return TRACE_STOP;
      i = length - rest;
      ++p;
      continue;
    }
    if (*p != '?' && *p != text[i]) return TRACE_STOP;
    ++p;
    ++i;
  }
  return *p == 0 || std::strcmp(p, "*") == 0 ? TRACE_MATCH : TRACE_NO_MATCH;
}

void store_trace(void*& slot, const char* text) {
  const std::size_t length = std::strlen(text);
  std::uint32_t size = 0;
  if (slot) std::memcpy(&size, slot, sizeof size);
  if (!slot || size < length + 5) {
    std::free(slot);
    size = static_cast<std::uint32_t>(length + 8);
    slot = std::malloc(size);
    if (!slot) return;
    std::memcpy(slot, &size, sizeof size);
  }
  std::memcpy(static_cast<char*>(slot) + sizeof size, text, length + 1);
}

void clear_trace(void* slot) {
  if (slot) static_cast<char*>(slot)[sizeof(std::uint32_t)] = 0;
}

void trace_check(StringRep* rep) {
  if (!rep || rep == StringRep::empty_instance) return;
  ALLOCATOR_QK* pool = pool_of(rep);
  if (!pool || !pool->tracePattern()) return;
  const char* pattern = pool->tracePattern();
  const TraceMatch match = trace_pattern_match(pattern, rep->text(), rep->length);
  if (match == TRACE_STOP) return;
  void** slot = trace_slot(*pool, rep);
  if (!slot) return;
  if (match == TRACE_NO_MATCH) {
    clear_trace(*slot);
    return;
  }
  // The first frame is this function's own: the record starts with its caller.
  const char* trace = platform::stack_text("%f:%l;");
  const char* first = std::strchr(trace, ';');
  store_trace(*slot, first ? first + 1 : trace);
}

}  // namespace string_internal
