// The process-wide logger stdlog and its levels.
//
// Every module logs with one pattern:
//
//   if (stdlog && stdlog->isOn("Brimvale", __LINE__, MILESTONE)) {
//     stdlog->stream() << "Invocation Command Line:" << text;
//     stdlog->commit();
//   }
//
// The source-file name is the module's source file without extension.
#ifndef QK_LOG_LOGGER_H
#define QK_LOG_LOGGER_H

#include <ostream>

// Log levels. The low 15 bits are the rank (smaller is more important); bit 15 marks
// warnings and worse and takes no part in threshold comparisons.
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

class LOGGER_QK {
 public:
  LOGGER_QK();
  ~LOGGER_QK();
  LOGGER_QK(const LOGGER_QK&) = delete;
  LOGGER_QK& operator=(const LOGGER_QK&) = delete;

  // The level test; on true a message is open until commit.
  bool isOn(const char* source_file, int line, int level);
  // The open message's text stream.
  std::ostream& stream();
  // Turns the open message into one record.
  void commit();
};

extern LOGGER_QK* stdlog;

// One per module that logs, as a module-level object: the first creates stdlog, the last
// destroys it at exit.
class LoggerGuard {
 public:
  LoggerGuard();
  ~LoggerGuard();
  LoggerGuard(const LoggerGuard&) = delete;
  LoggerGuard& operator=(const LoggerGuard&) = delete;
};

#endif
