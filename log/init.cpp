// The logger's start-up: stdlog from the first LoggerGuard on, the process settings and the
// default sink on the first level test, and the allocation-failure handler.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "env/env.h"
#include "env/qkos.h"
#include "log/internal/block.h"
#include "log/internal/record.h"
#include "log/detail/logstate.h"
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

int environmentThreshold(int mode) {
  int level = parseLevel(
      env_lookup(mode == LOG_MODE_STANDARD ? "QK_LOG_LEVEL_STD" : "QK_LOG_LEVEL_BSTRAP", 0));
  if (level == 0) level = parseLevel(env_lookup("QK_LOG_LEVEL", 0));
  return level >= ABS_MINIMUM ? level : 0;
}

void startLogProcess() {
  if (log_process.started) return;
  LogProcessSettings& s = log_process;
  const long full_pid = static_cast<long>(platform::process_id());
  applyProgramName(s, defaultProgramName(), full_pid);
  logimpl::copyText(program_name, sizeof program_name, s.process_name);
  s.pid = static_cast<int>(full_pid % 100000);
  if (s.pid < 0) s.pid = -s.pid;

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
  s.default_level = environmentThreshold(s.mode);
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
  const char* pattern = log_process.file_override[0] ? log_process.file_override : "stdlog.%1";
  LogSink* sink = new LogSink(".", pattern, 0x10000);
  std::set_new_handler(logNewHandler);
  making_default_sink = false;
  default_sink.store(sink, std::memory_order_release);
  // A log directory that is not the one this process's settings name is said once.
  const std::string notice = memlgqk_take_directory_notice();
  if (!notice.empty() && sink->wants("memlgqk", kDirectoryNoticeLine, WARNING))
    writeRecord(sink, WARNING, "memlgqk", kDirectoryNoticeLine, notice.c_str(), notice.size(), -1,
                nullptr, 0);
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
  QK_LOG_AT("init", 421, VERBOSE) << "** LOGGER ** LOGGER_QK object (stdlog) being destructed.";
  delete stdlog;
  stdlog = nullptr;
}
