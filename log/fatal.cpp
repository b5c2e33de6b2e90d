// Fatal errors and exit handling: the exit-function table, the log exit function, the
// fatal-error message and what follows a record of a level that ends the process.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "env/qkos.h"
#include "log/detail/logstate.h"
#include "platform/process/process.h"

namespace {

LoggerGuard logger_guard;

constexpr int kExitSlots = 50;
LogExitFunction exit_functions[kExitSlots];
bool exit_functions_running = false;

LogExitFunction log_exit_function = nullptr;

constexpr std::size_t kFatalMessageLength = 300;
char fatal_message[kFatalMessageLength + 1];

// Appends the part behind one space, up to the message's length.
void appendPart(const char* part) {
  std::size_t used = std::strlen(fatal_message);
  if (used >= kFatalMessageLength - 1) return;
  if (used > 0) fatal_message[used++] = ' ';
  std::size_t room = kFatalMessageLength - used;
  std::size_t take = strnlen(part, room);
  std::memcpy(fatal_message + used, part, take);
  fatal_message[used + take] = '\0';
}

}  // namespace

void addExitFunction(LogExitFunction function) {
  if (exit_functions_running || !function) return;
  for (LogExitFunction f : exit_functions)
    if (f == function) return;
  for (LogExitFunction& slot : exit_functions) {
    if (!slot) {
      slot = function;
      return;
    }
  }
}

void removeExitFunction(LogExitFunction function) {
  for (LogExitFunction& slot : exit_functions) {
    if (slot == function) {
      slot = nullptr;
      return;
    }
  }
}

void runExitFunctions(const char* source_file, int line, int level, const char* text) {
  exit_functions_running = true;
  for (LogExitFunction& slot : exit_functions) {
    if (LogExitFunction f = slot) {
      slot = nullptr;
      f(source_file, line, level, text);
    }
  }
}

void setLogExitFunction(LogExitFunction function) {
  if (function && log_exit_function && function != log_exit_function) {
    QK_LOG_AT("logger", 959, ERROR) << "Unable to set log exit function - already active";
    return;
  }
  log_exit_function = function;
}

const char* composeFatalMessage(const char* part1, const char* part2, const char* part3,
                                const char* part4) {
  fatal_message[0] = '\0';
  for (const char* part : {part1, part2, part3, part4})
    if (part) appendPart(part);
  return fatal_message;
}

void fatalError(const char* part1, const char* part2, const char* part3, const char* part4) {
  composeFatalMessage(part1, part2, part3, part4);
  runExitFunctions("", 0, FATAL, fatal_message);
  report_message(fatal_message, REPORT_FATAL_ABORT, 0);
  // report_message ends the process for a fatal severity; this makes sure of it.
  platform::exit_process_now(999);
}

void levelAction(int level, const char* source_base, int line, const char* prefix,
                 const char* text) {
  switch (level) {
    case FATAL:
      fatalError(prefix, text);
    case EXIT:
    case RESTART:
      runExitFunctions(source_base, line, level, text);
      std::exit(999);
    default:
      if (log_exit_function) log_exit_function(source_base, line, level, text);
  }
}
