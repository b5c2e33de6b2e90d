// The logger's log files and exit handling: the shared numbered files a sink writes to,
// the header line and time offset, the exit functions and fatal errors. (The working state
// behind them, message frames, sinks and the process settings, is the log module's own.)
//
// A committed message becomes one record line: a 99-character prefix
//
//   12/08 17:34:04.27 myhost         Brimvale            4711 ERROR        Brimvale               88 
//
// (month/day time.hundredths host process pid level source line) and the message text.
// The record writer hands the line to the sink's LogFile, echoes it when asked, and then
// runs the level action: FATAL ends the process at once, EXIT and RESTART after the exit
// functions and through the ordinary exit.
#ifndef QK_LOG_LOGFILE_H
#define QK_LOG_LOGFILE_H

#include <cstddef>
#include <ostream>
#include <sstream>
#include <string>

#include "log/logger.h"

struct LogFileTableEntry;

// One reference to an entry of the shared file table: a directory and a numbered file
// pattern ("stdlog.%1") whose numbering, record count and limits all processes share.
//
// The pattern's "%p", "%n" and "%h" become the process id, process name and host name;
// "%0" to "%4" are the file number printed with that many digits, cycling through 2, 10,
// 100, 1000 and 10000 numbers ("%5" to "%9" print more digits but cycle like "%4"), as
// log/logfile_names.h names the files.
class LogFile {
 public:
  // Takes (or makes) the entry for the directory and pattern; nullptr without a block.
  static LogFile* open(const char* directory, const char* pattern, int options);
  // Drops the reference and the handle.
  void close();

  // The size limit, stored unchanged; the entry then keeps its settings at later opens.
  void setFileLimit(int bytes);
  void setMaxRecords(int count);
  void setFileDays(int days);
  int fileLimit() const;
  int maxRecords() const;
  int fileDays() const;
  const char* directory() const;
  const char* pattern() const;

  // The directory and expanded pattern this process opened (its own copies).
  struct Names {
    char directory[64];
    char pattern[64];
  };
  LogFileTableEntry* entry() const;
  const Names& names() const { return *names_; }

 private:
  LogFile(int entry, const Names& names);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  int entry_;
  Names* names_;
};

// The next record written is preceded by the header line.
void requestHeader();
// The time offset printed in header lines (seconds and milliseconds), kept in the block.
void setTimeOffset(int seconds, int milliseconds);

// --- Fatal errors and exit handling -------------------------------------------------------

typedef void (*LogExitFunction)(const char* source_file, int line, int level, const char* text);

// The 50-slot table of functions run once each before the process ends on a FATAL, EXIT
// or RESTART record or a fatal error. Registration is refused once a run has begun.
void addExitFunction(LogExitFunction function);
void removeExitFunction(LogExitFunction function);

// The function called after every record of a level that does not end the process; a
// second, different function is refused (and logged); nullptr clears the slot.
void setLogExitFunction(LogExitFunction function);

// Joins the present parts with single spaces into a message of at most 300 characters
// (composeFatalMessage: into a buffer that the next call overwrites); fatalError then runs
// the exit functions, writes a line feed and the message to standard error and ends
// the process with exit code 999.
const char* composeFatalMessage(const char* part1, const char* part2 = nullptr,
                                const char* part3 = nullptr, const char* part4 = nullptr);
[[noreturn]] void fatalError(const char* part1, const char* part2 = nullptr,
                             const char* part3 = nullptr, const char* part4 = nullptr);

#endif
