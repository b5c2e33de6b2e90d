// The logger's start-up: stdlog from the first LoggerGuard on, the process settings and the
// default sink on the first level test, and the allocation-failure handler.
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "env/env.h"
#include "env/qkos.h"
#include "log/internal/block.h"
#include "log/internal/record.h"
#include "log/detail/logstate.h"
#include "log/logfile_names.h"
#include "platform/process/process.h"

LOGGER_QK* stdlog = nullptr;

namespace {

LoggerGuard logger_guard;

int guard_count = 0;
bool creation_pending = false;  // stdlog is made, its start-up and record are left to startLogger
// Made once, by the first level test of any thread; the others wait for it.
std::atomic<LogSink*> default_sink{nullptr};
std::recursive_mutex& defaultSinkMutex() {
  static std::recursive_mutex* mutex = new std::recursive_mutex;  // used until the very end
  return *mutex;
}
bool making_default_sink = false;  // under the mutex

char allocation_message[64];

const int kDirectoryNoticeLine = 1;

}  // namespace

namespace {

const int kSettingNoticeLine = 2;
// The notices of the settings the start-up ignored, logged once the default sink is made.
std::vector<std::string>& settingNotices() {
  static std::vector<std::string>& notices = *new std::vector<std::string>;
  return notices;
}

bool startsAsNumber(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text == '+' || *text == '-') ++text;
  return *text >= '0' && *text <= '9';
}

bool sameIgnoringCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

// Why a level setting's value gives no threshold.
std::string refusedLevel(const char* name, const char* text, int rank) {
  std::string why = std::string(name) + "=" + text;
  if (rank == 0 && !startsAsNumber(text) && !sameIgnoringCase(text, "FATAL"))
    return why + " names no level (a name such as WARNING, MILESTONE, TRACE or VERBOSE, or a number of at least 50)";
  return why + " gives " + std::to_string(rank) + ", below ABS_MINIMUM (50), the lowest threshold";
}

}  // namespace

int environmentThreshold(int mode, std::vector<std::string>* notices) {
  const char* mode_name = mode == LOG_MODE_STANDARD ? "QK_LOG_LEVEL_STD" : "QK_LOG_LEVEL_BSTRAP";
  const char* mode_text = env_lookup(mode_name, 0);
  int level = parseLevel(mode_text);
  const char* from = mode_name;
  std::vector<std::string> refused;
  if (mode_text && *mode_text && level < ABS_MINIMUM) refused.push_back(refusedLevel(mode_name, mode_text, level));
  if (level == 0) {
    const char* text = env_lookup("QK_LOG_LEVEL", 0);
    level = parseLevel(text);
    from = "QK_LOG_LEVEL";
    if (text && *text && level < ABS_MINIMUM) refused.push_back(refusedLevel(from, text, level));
  }
  const int threshold = level >= ABS_MINIMUM ? level : 0;
  if (!notices) return threshold;
  const std::string used = threshold ? "; the threshold is " + std::to_string(threshold) + ", from " + from
                                     : std::string("; the threshold is the default, MINIMUM (60)");
  for (const std::string& r : refused) notices->push_back(r + used);
  if (const char* limit = env_lookup("QK_LOGFILE_LIMIT", 0)) {
    // As the log file's first open reads it: a decimal number, used when above 500.
    if (*limit && std::strtol(limit, nullptr, 10) <= 500)
      notices->push_back(std::string("QK_LOGFILE_LIMIT=") + limit +
                         " is not a number of bytes above 500; ignored: log files switch at their default size "
                         "(100000 bytes for stdlog)");
  }
  return threshold;
}

int environmentThreshold(int mode) { return environmentThreshold(mode, nullptr); }

void startLogProcess() {
  if (log_process.started) return;
  LogProcessSettings& s = log_process;
  const long full_pid = static_cast<long>(platform::process_id());
  applyProgramName(s, defaultProgramName(), full_pid);
  logimpl::copyText(program_name, sizeof program_name, s.process_name);
  s.pid = memlgqk_reduced_process_id(full_pid);

  MEMORY_LGQK* block = memlgqk_create(s.mode);

  const char* host = local_host_name();
  logimpl::copyText(s.host, sizeof s.host, host);

  // Records go to standard error when the block is not shared in standard mode, or when it
  // has no log directory.
  char directory[LOG_DIRECTORY_MAX + 1];
  if (s.mode == LOG_MODE_STANDARD && !memlgqk_shared()) s.mode = LOG_MODE_STDERR_ONLY;
  if (!memlgqk_log_directory(block, directory)[0]) s.mode = LOG_MODE_STDERR_ONLY;
  logimpl::attachLogBlock(block, memlgqk_lock, memlgqk_unlock, s.mode != LOG_MODE_STDERR_ONLY, directory);

  if (!s.process_name[0] && !s.identity[0])
    std::snprintf(s.identity, sizeof s.identity, "ProcID_%d", s.pid);
  s.default_level = environmentThreshold(s.mode, &settingNotices());
  s.started = true;
}

LogSink* existingDefaultSink() { return default_sink.load(std::memory_order_acquire); }

LogSink* defaultLogSink() {
  if (LogSink* sink = default_sink.load(std::memory_order_acquire)) return sink;
  std::lock_guard<std::recursive_mutex> hold(defaultSinkMutex());
  if (LogSink* sink = default_sink.load(std::memory_order_acquire)) return sink;
  // A module that logs while the start-up runs (the settings lookup, say) finds no sink
  // yet and is refused, rather than starting the start-up again.
  if (making_default_sink) return nullptr;
  making_default_sink = true;
  startLogProcess();
  const char* pattern = log_process.file_override[0] ? log_process.file_override : LOG_STDLOG_PATTERN;
  LogSink* sink = new LogSink(LOG_STDLOG_DIRECTORY, pattern, 0x10000);
  std::set_new_handler(logNewHandler);
  making_default_sink = false;
  default_sink.store(sink, std::memory_order_release);
  // A log directory that is not the one this process's settings name is said once.
  const std::string notice = memlgqk_take_directory_notice();
  if (!notice.empty() && sink->wants("memlgqk", kDirectoryNoticeLine, WARNING))
    writeRecord(sink, WARNING, "memlgqk", kDirectoryNoticeLine, notice.c_str(), notice.size(), -1,
                nullptr, 0);
  // So is each setting the start-up ignored.
  for (const std::string& n : settingNotices())
    if (sink->wants("init", kSettingNoticeLine, WARNING))
      writeRecord(sink, WARNING, "init", kSettingNoticeLine, n.c_str(), n.size(), -1, nullptr, 0);
  settingNotices().clear();
  return sink;
}

int allocationFailure(std::size_t size) {
  std::snprintf(allocation_message, sizeof allocation_message,
                "Operator ::new cannot allocate %d bytes", static_cast<int>(size));
  std::fputs(allocation_message, stderr);
  std::fputs("\n", stderr);
  std::fflush(stderr);
  LogSink* sink = existingDefaultSink();
  if (!stdlog || !sink) return 0;
  writeRecord(sink, FATAL, "init", 363, allocation_message,
              std::strlen(allocation_message), -1, nullptr, 0);
  return 0;
}

void logNewHandler() {
  // std::set_new_handler does not pass the size. Returning without stdlog must not make
  // operator new try again for ever: the handler steps aside and the allocation throws.
  if (allocationFailure(0) == 0) std::set_new_handler(nullptr);
}

namespace {

// The first level test starts the logger; its record tells that stdlog was made.
void logCreation() {
  QK_LOG_AT("init", 400, VERBOSE) << "** LOGGER ** LOGGER_QK object (stdlog) created.";
}

}  // namespace

LoggerGuard::LoggerGuard() {
  if (!stdlog) {
    guard_count = 0;
    stdlog = new LOGGER_QK(LOGGER_QK::StdlogTag{});
    // A program that defers its start-up starts the logger itself (startLogger).
    if (framework_start_deferred)
      creation_pending = true;
    else
      logCreation();
  }
  ++guard_count;
}

void startLogger() {
  if (!creation_pending) return;
  creation_pending = false;
  env_complete_start();
  if (stdlog) logCreation();
}

LoggerGuard::~LoggerGuard() {
  if (guard_count-- != 1) return;
  // A program that deferred its start-up and never started the logger (qklog's --help)
  // has logged nothing: its end starts no logger and needs no installation.
  if (!creation_pending) {
    QK_LOG_AT("init", 421, VERBOSE) << "** LOGGER ** LOGGER_QK object (stdlog) being destructed.";
  }
  delete stdlog;
  stdlog = nullptr;
}
