// The logger's working state, private to the log module: message frames, the sinks with
// their thresholds and files, the process settings read at start-up, the record writer,
// and the steps of the exit handling.
#ifndef QK_LOG_DETAIL_LOGSTATE_H
#define QK_LOG_DETAIL_LOGSTATE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "log/logfile.h"
#include "log/logger.h"
#include "log/memlgqk.h"

// One message being built. Frames belong to a thread: its open messages stack up, newest
// first, while messages nest (of one logger or of several), and closed frames are kept for
// the thread's next messages.
class LogFrame {
 public:
  LogFrame* previous = nullptr;
  const LOGGER_QK* logger = nullptr;  // whose message it is while open
  std::ostringstream text;
  std::string source_file;
  int line = 0;
  int level = 0;
};

// A threshold and a destination. Sinks form one process-wide list (newest first).
class LogSink {
 public:
  LogSink(const char* directory, const char* pattern, int options);
  ~LogSink();
  LogSink(const LogSink&) = delete;
  LogSink& operator=(const LogSink&) = delete;

  // True when a message of the level from the source file is to be written: its rank is
  // at most the threshold's, or a shared filter lets it through.
  bool wants(const char* source_file, int line, int level) const;

  LogSink* next;
  LogFile* file;
  // Read by every level test on any thread, set by setLevel.
  std::atomic<int> threshold;
};

namespace logimpl {

// The level test's view of the shared filter table: the attached block and the verdict
// kept for this process at one filter generation of it, in one word that every thread
// reads whole:
//   bits 0-31   the generation it was read at
//   bit 32      set: the word holds a verdict
//   bit 33      source-file entries are in use: each message's source is judged by the table
//   bits 34-49  ranks below this pass, whatever their source (0 to 32768)
// Only when the block's generation moved (or the word was dropped) is the table read again.
struct FilterView {
  std::atomic<const MEMORY_LGQK*> block{nullptr};
  std::atomic<std::uint64_t> verdict{0};
};
extern FilterView filter_view;
constexpr std::uint64_t kVerdictHeld = 1ull << 32;
constexpr std::uint64_t kVerdictSourceFilters = 1ull << 33;
constexpr int kVerdictPassShift = 34;

// Reads the table at the generation, keeps the verdict, and judges the message by it.
bool filterReadAgain(const char* source_file, int rank, std::uint32_t generation);
// The table's judgement of the message's source (source-file entries).
bool filterSourcePasses(const char* source_file, int rank);
// Attaches the filter view to a block (nullptr: none), dropping the kept verdict.
void attachFilterBlock(const MEMORY_LGQK* block);
// Forgets the kept verdict (the process name that process-name entries judge changed).
void dropFilterVerdict();

// Shared filter table: true while the busy word is set, or when an entry matches (by
// process id, process name or the source file's base name) with the rank strictly below
// its level. Without a block nothing passes.
inline bool filterPasses(const char* source_file, int rank) {
  const MEMORY_LGQK* block = filter_view.block.load(std::memory_order_acquire);
  if (!block) return false;
  // The generation is read before the table, so that a verdict is never newer than the
  // generation it is kept under: a change completed after this read moves the number on.
  const std::uint32_t generation = memlgqk_filter_generation(block);
  const std::uint64_t verdict = filter_view.verdict.load(std::memory_order_acquire);
  if ((verdict & (kVerdictHeld | 0xFFFFFFFFu)) != (kVerdictHeld | generation))
    return filterReadAgain(source_file, rank, generation);
  if (rank < static_cast<int>((verdict >> kVerdictPassShift) & 0xFFFF)) return true;
  return (verdict & kVerdictSourceFilters) != 0 && filterSourcePasses(source_file, rank);
}

}  // namespace logimpl

// True when a message of the level from the source file is to be written: its rank is at
// most the threshold's, or a shared filter lets it through.
inline bool LogSink::wants(const char* source_file, int, int level) const {
  const int rank = level & 0x7FFF;
  return rank <= (threshold.load(std::memory_order_relaxed) & 0x7FFF) ||
         logimpl::filterPasses(source_file, rank);
}

// The head of the sink list, changed under log_sinks_mutex.
extern LogSink* log_sinks;
extern std::mutex log_sinks_mutex;

// stdlog's sink, made once per process on the first level test (with the process settings
// start-up and the allocation-failure handler); never destroyed. defaultLogSink() makes it
// when missing; existingDefaultSink() only looks.
LogSink* defaultLogSink();
LogSink* existingDefaultSink();

// Writes one record through the sink's file, echoes it, and runs the level action.
void writeRecord(LogSink* sink, int level, const char* source_file, int line, const char* text,
                 std::size_t text_length, int echo_fd, std::ostream* echo_stream, int echo_flags);

// --- Process settings of the logger (set once, before the first sink) ----------------------

enum LogMode { LOG_MODE_STANDARD = 0, LOG_MODE_BOOTSTRAP = 1, LOG_MODE_STDERR_ONLY = 2 };

struct LogProcessSettings {
  int mode;
  char process_name[64];   // up to 31 characters when taken from a bootstrap form
  char identity[32];       // "ProcID_<pid>" when there is no process name
  int pid;                 // the process id modulo 100000
  bool started;            // the start-up has run
  char host[65];
  char file_override[64];  // replaces "stdlog.%1" for the default sink (bootstrap mode)
  int default_level;       // 0 or an accepted threshold from the environment
};

extern LogProcessSettings log_process;

// The process name shown in records: the process name, else the identity text.
const char* shownProcessName();

// The program name the start-up reads: program_name, or when that is empty the running
// executable's base name without ".exe" (nullptr when the system gives none).
const char* defaultProgramName();

// The start-up's reading of the program name: log mode, process name and file override.
// The bootstrap forms are "BSTRAP:name", "BSTRAP:name:file" and "BSTRAP:name:stderr"
// (first word in any case, name and file optional). full_pid names the override file
// when there is no name.
void applyProgramName(LogProcessSettings& settings, const char* program, long full_pid);

// The threshold the environment asks for in the mode (QK_LOG_LEVEL_STD in standard mode,
// QK_LOG_LEVEL_BSTRAP in the others, else QK_LOG_LEVEL), or 0 when none is acceptable
// (below ABS_MINIMUM).
int environmentThreshold(int mode);
// As environmentThreshold; *notices (when given) gets one line for each of those settings,
// and for QK_LOGFILE_LIMIT, whose value is ignored: the variable, its value, why, and what
// is used instead.
int environmentThreshold(int mode, std::vector<std::string>* notices);

// Runs the start-up once.
void startLogProcess();

// --- Exit handling steps ------------------------------------------------------------------

void runExitFunctions(const char* source_file, int line, int level, const char* text);

// What follows a written record of the level.
void levelAction(int level, const char* source_base, int line, const char* prefix,
                 const char* text);

// Failed allocation of the size: reported on standard error and, while stdlog exists, as a
// FATAL record (which ends the process). Returns 0 without stdlog.
int allocationFailure(std::size_t size);

// Installed with std::set_new_handler when the default sink is made.
void logNewHandler();

#endif
