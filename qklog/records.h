// The lines of a log file as qklog tail reads them: records behind their 99-character
// prefix, the header line a file may begin with, the lost-record line; which of them an
// operator asked for (level, process id, process name, source, time, a pattern on the
// text), and how they are printed (as written, or one JSON object a line).
#ifndef QK_QKLOG_RECORDS_H
#define QK_QKLOG_RECORDS_H

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

class Regex;

namespace qklog {

// A local time, compared field by field: the records carry local time without a year.
struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, hundredths = 0;
  bool operator<(const LocalTime& other) const;
};

// The local time of the clock's seconds.
LocalTime local_time(std::time_t seconds);

// The time offset a header line carries, in hundredths of a second.
struct FileOffset {
  bool set = false;
  long long hundredths = 0;
};

// One line of a log file, without its line feed.
struct LogLine {
  enum Kind { record, header, lost, other };
  Kind kind = other;
  LocalTime time;  // records and lost-record lines
  std::string host, process, level, source, text;
  long long pid = 0, line = 0;
  int rank = -1;  // the rank of a named or numbered level; -1 when the field is neither
};

// The prefix's fields trimmed of their padding. The year is the one that puts the date
// no later than the day of now (records are written before they are read).
LogLine parse_log_line(const std::string& line, const LocalTime& now);

// The offset a header line states ("%%   +12.34 host ..."); not set for any other line.
FileOffset parse_header(const std::string& line);

// TIME as --since takes it: "YYYY-MM-DD HH:MM:SS", "YYYY-MM-DD HH:MM", "YYYY-MM-DD" (also
// with a 'T' between date and time), the records' own "MM/DD HH:MM:SS" (the year as for
// records), or a span back from now: a number and s, m, h or d ("90s", "10m", "2h", "1d").
bool parse_since(const std::string& text, std::time_t now, LocalTime* since);

// What qklog tail prints: every condition given must hold.
class RecordFilter {
 public:
  RecordFilter();
  ~RecordFilter();  // where Regex is complete

  // The option's value (name without "--": level, pid, process, source, since, match);
  // false with the message for a bad value.
  bool set(const std::string& name, const std::string& value, std::time_t now, std::string* error);
  // The names set() takes.
  static const char* const names[];

  // True when no condition is set: every line passes, header lines too.
  bool empty() const;
  bool passes(const LogLine& line) const;

 private:
  int max_rank_ = -1;
  long long pid_ = -1;
  std::string process_, source_;
  bool has_since_ = false;
  LocalTime since_;
  std::unique_ptr<Regex> match_;
};

// The line as one JSON object: time, host, process, pid, level, source, line, text, and
// offset when the file's header line set one. Only the keys a line has are given: a lost-
// record line has no pid, level, source or line; a line of any other shape only its text.
std::string json_line(const LogLine& line, const FileOffset& offset);

}  // namespace qklog

#endif
