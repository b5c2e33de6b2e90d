// Process-wide state of the logger: the process settings, the sink list, and the level
// table with its names.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/internal/record.h"
#include "log/detail/logstate.h"

// Constant-initialised, so that modules logging during static initialisation find them
// ready whatever order the modules start in. (The program name is in program_name.cpp.)
LogProcessSettings log_process = {};
LogSink* log_sinks = nullptr;
std::mutex log_sinks_mutex;

const LogLevelName log_level_names[LOG_LEVEL_NAMES] = {
    {"FATAL", FATAL},
    {"EXIT", EXIT},
    {"RESTART", RESTART},
    {"SIGNIFICANT", SIGNIFICANT},
    {"SEVERE_ERROR", SEVERE_ERROR},
    {"ERROR", ERROR},
    {"WARNING", WARNING},
    {"INFORMATION", INFORMATION},
    {"MILESTONE", MILESTONE},
    {"TRACE", TRACE},
    {"VERBOSE", VERBOSE},
    {"MINIMUM", MINIMUM},
    {"ABS_MINIMUM", ABS_MINIMUM},
};

namespace {

// Per thread: a level without a name is formatted into every record prefix.
thread_local char level_number_text[16];

}  // namespace

int parseLevel(const char* text) {
  if (!text) return 0;
  char upper[16];
  std::size_t n = std::strlen(text);
  if (n < sizeof upper) {
    for (std::size_t i = 0; i <= n; ++i)
      upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    for (const LogLevelName& e : log_level_names)
      if (std::strcmp(upper, e.name) == 0) return e.level & 0x7FFF;
  }
  // Read as a 32-bit long reads it on every build: a number beyond its range counts as
  // the range's end (so 4294967346 is 2147483647, not 50 on one build and 32767 on another).
  long long value = std::strtoll(text, nullptr, 10);
  if (value > 2147483647LL) value = 2147483647LL;
  if (value < -2147483647LL - 1) value = -2147483647LL - 1;
  return static_cast<int>(value & 0x7FFF);
}

const char* levelName(int level) {
  for (int i = 0; i < LOG_MESSAGE_LEVEL_NAMES; ++i)
    if (log_level_names[i].level == level) return log_level_names[i].name;
  std::snprintf(level_number_text, sizeof level_number_text, "%d", level);
  return level_number_text;
}

const char* processName() { return log_process.process_name; }

const char* shownProcessName() {
  return log_process.process_name[0] ? log_process.process_name : log_process.identity;
}

void logimpl::copyText(char* to, std::size_t size, const char* from) {
  if (size == 0) return;
  std::size_t n = from ? strnlen(from, size - 1) : 0;
  std::memmove(to, from ? from : "", n);
  to[n] = '\0';
}
