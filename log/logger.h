// The process-wide logger stdlog and its levels.
//
// Every module logs with one pattern, written with QK_LOG (below):
//
//   QK_LOG(MILESTONE) << "Invocation Command Line:" << text;
//
// The source-file name is the module's source file without extension. A message is
// written when its rank (level & 0x7FFF) is at most the threshold's rank; the default
// threshold is MINIMUM (60), so FATAL to ERROR are written and WARNING and below are not.
#ifndef QK_LOG_LOGGER_H
#define QK_LOG_LOGGER_H

#include <atomic>
#include <ostream>

// Log levels. The low 15 bits are the rank (smaller is more important); bit 15 marks
// warnings and worse and takes no part in threshold comparisons.
// <windows.h> (wingdi.h) defines ERROR as a macro; the level is declared with the macro
// set aside, so this header and <windows.h> may come in either order. Code that includes
// <windows.h> and names the level defines NOGDI first or writes #undef ERROR.
#pragma push_macro("ERROR")
#undef ERROR
enum LogLevel : int {
  FATAL = 32768,
  EXIT = 32778,
  RESTART = 32788,
  SIGNIFICANT = 32798,
  SEVERE_ERROR = 32803,
  ERROR = 32808,
  ABS_MINIMUM = 50,
  MINIMUM = 60,
  WARNING = 32838,
  INFORMATION = 80,
  MILESTONE = 90,
  TRACE = 200,
  VERBOSE = 250,
};
#pragma pop_macro("ERROR")

// The level names, most important first: the eleven message levels from FATAL to VERBOSE,
// then the two threshold names, which name no message level (a record of level 60 or 50
// shows the number). parseLevel reads all of them, levelName writes the message levels.
struct LogLevelName {
  const char* name;
  int level;
};
const int LOG_LEVEL_NAMES = 13;
const int LOG_MESSAGE_LEVEL_NAMES = 11;
extern const LogLevelName log_level_names[LOG_LEVEL_NAMES];

class LogSink;

class LOGGER_QK {
 public:
  // A logger sharing stdlog's sink (threshold and file); sets the locale to the user's.
  LOGGER_QK();
  // A logger with a sink and log file of its own (file options as LogFile takes them);
  // sets the locale to the user's.
  LOGGER_QK(const char* directory, const char* pattern, int options);
  ~LOGGER_QK();
  LOGGER_QK(const LOGGER_QK&) = delete;
  LOGGER_QK& operator=(const LOGGER_QK&) = delete;

  // The level test; on true a message is open on the calling thread until its commit.
  // Open messages belong to the thread that opened them, so any number of threads may log
  // through one logger at once, each record arriving whole.
  bool isOn(const char* source_file, int line, int level);
  // The text stream of the calling thread's newest open message of this logger (without
  // one, a stream whose text goes nowhere).
  std::ostream& stream();
  // Turns the calling thread's newest open message of this logger into one record.
  void commit();

  // The message buffer size kept for callers (the stream grows as needed); refused while
  // the calling thread has a message of this logger open.
  void setBufsize(int size);
  int bufsize() const { return bufsize_; }

  // The sink's threshold, stored as given.
  void setLevel(int level);
  int level() const;

  // Settings of the sink's log file; the readers answer -1 (texts: nullptr) without one.
  void setFileLimit(int bytes);
  void setMaxRecords(int count);
  void setFileDays(int days);
  int fileLimit() const;
  int maxRecords() const;
  int fileDays() const;
  const char* fileDirectory() const;
  const char* filePattern() const;

  // Clears the shared filter-table entry of kind 3 for the source file; kind must be 0 or 3.
  bool removeFileFilter(const char* source_file, int kind);

 private:
  friend class LoggerGuard;
  struct StdlogTag {};
  explicit LOGGER_QK(StdlogTag);
  // The level test's rare paths: the first test of a logger without a sink, and the
  // opening of a message.
  [[gnu::noinline]] bool firstTest(const char* source_file, int line, int level);
  [[gnu::noinline]] bool open(const char* source_file, int line, int level);

  // The sink and the process's default sink, once the first level test made it.
  LogSink* sink() const { return sink_.load(std::memory_order_acquire); }

  int magic_;
  std::atomic<LogSink*> sink_;
  int bufsize_;
  int echo_fd_;
  std::ostream* echo_stream_;
  int echo_flags_;
};

extern LOGGER_QK* stdlog;

// The one logging pattern of the framework's modules. A module names its source once,
//   #define QK_LOG_SOURCE "allocator"
// and writes
//   QK_LOG(ERROR) << "Free called befor alloc";
// which is exactly
//   if (stdlog && stdlog->isOn("allocator", __LINE__, ERROR)) { stdlog->stream() << ...; stdlog->commit(); }
// The message's operands are evaluated only when the level test passes.
#define QK_LOG_AT(source, line, level)                                                  \
  for (bool qk_log_open_ = stdlog && stdlog->isOn((source), (line), (level)); qk_log_open_; \
       qk_log_open_ = false, stdlog->commit())                                          \
  stdlog->stream()
#define QK_LOG(level) QK_LOG_AT(QK_LOG_SOURCE, __LINE__, level)

// One per module that logs, as a module-level object: the first creates stdlog, the last
// destroys it at exit.
class LoggerGuard {
 public:
  LoggerGuard();
  ~LoggerGuard();
  LoggerGuard(const LoggerGuard&) = delete;
  LoggerGuard& operator=(const LoggerGuard&) = delete;
};

// The rank of a level given by name (any case: "warning", "MINIMUM") or as a decimal
// number; 0 for no text.
int parseLevel(const char* text);
// The level's name, or its number in decimal (a buffer of the calling thread that its next
// call overwrites).
const char* levelName(int level);
// Makes the name the process name of the records and the program name.
void setProcessName(const char* name);
// The process name the logger holds (empty when it has none yet).
const char* processName();
// In a program that defers the framework's start-up (framework_start_deferred, env/env.h):
// completes it, and starts the logger with the record that stdlog was made, now rather
// than during static initialisation. The launcher calls it once its child runs. Nothing
// in any other program, nor a second time.
void startLogger();

// The program's name, read by the logger's start-up (forms beginning with "BSTRAP:" choose
// the bootstrap log mode). Empty unless the program defines it itself, constant-initialised
// (the launcher: char program_name[64] = "Brimvale";); an empty name stands for the
// executable's base name without ".exe", so that every program's records, filters and
// file names tell it apart.
extern char program_name[64];

#endif
