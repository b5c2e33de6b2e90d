// Log-file lines as qklog tail reads, selects and prints them.
#include "qklog/records.h"

#include <climits>
#include <cstdio>
#include <tuple>

#include "platform/clock/clock.h"
#include "log/memlgqk.h"
#include "log/record_layout.h"
#include "qklog/view.h"
#include "string/Regex.h"
#include "string/regexp.h"

namespace qklog {

namespace {

// Where the prefix's fields stand, as the writers lay them out: "MM/DD HH:MM:SS.hh host
// process pid level source line ".
const std::size_t kPrefix = LOG_RECORD_PREFIX_WIDTH;
const std::size_t kHost = LOG_RECORD_HOST_AT, kProcess = LOG_RECORD_PROCESS_AT, kPid = LOG_RECORD_PID_AT,
                  kLevel = LOG_RECORD_LEVEL_AT, kSource = LOG_RECORD_SOURCE_AT, kLine = LOG_RECORD_LINE_AT;
// A lost-record line keeps the prefix up to the process name, then the lost mark.
const std::size_t kLostAt = LOG_LOST_LINE_AT;
const char* const kLostMark = LOG_LOST_MARK;
const std::size_t kLostMarkLength = sizeof LOG_LOST_MARK - 1;
const std::size_t kHeaderMarkLength = sizeof LOG_HEADER_MARK - 1;

bool digit(char c) { return c >= '0' && c <= '9'; }

// The unsigned decimal number of exactly count digits at text[at]; -1 when it is not one.
int digits_at(const std::string& text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (!digit(text[i])) return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::string trimmed(const std::string& text, std::size_t at, std::size_t count) {
  if (at >= text.size()) return "";
  std::string field = text.substr(at, count);
  const std::size_t first = field.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return field.substr(first, field.find_last_not_of(' ') - first + 1);
}

// A decimal number with an optional sign and at least one digit.
bool whole_number(const std::string& text, long long* value) {
  std::size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
  if (i == text.size() || text.size() - i > 12) return false;
  long long v = 0;
  for (std::size_t k = i; k < text.size(); ++k) {
    if (!digit(text[k])) return false;
    v = v * 10 + (text[k] - '0');
  }
  *value = text[0] == '-' ? -v : v;
  return true;
}

bool valid_clock(const LocalTime& t) {
  return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour >= 0 && t.hour <= 23 &&
         t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 60 && t.hundredths >= 0;
}

// The year that puts the month and day no later than today.
int year_before(const LocalTime& t, const LocalTime& now) {
  return std::tie(t.month, t.day) > std::tie(now.month, now.day) ? now.year - 1 : now.year;
}

// "MM/DD HH:MM:SS.hh" at the start of the line (the hundredths only when wanted).
bool parse_record_time(const std::string& text, bool hundredths, LocalTime* t) {
  t->month = digits_at(text, 0, 2);
  t->day = digits_at(text, 3, 2);
  t->hour = digits_at(text, 6, 2);
  t->minute = digits_at(text, 9, 2);
  t->second = digits_at(text, 12, 2);
  t->hundredths = hundredths ? digits_at(text, 15, 2) : 0;
  return text.size() >= 14 && text[2] == '/' && text[5] == ' ' && text[8] == ':' && text[11] == ':' &&
         (!hundredths || text[14] == '.') && valid_clock(*t);
}

// "YYYY-MM-DD", then optionally ' ' or 'T' and "HH:MM" or "HH:MM:SS".
bool parse_iso_time(const std::string& text, LocalTime* t) {
  *t = LocalTime();
  t->year = digits_at(text, 0, 4);
  t->month = digits_at(text, 5, 2);
  t->day = digits_at(text, 8, 2);
  if (t->year < 1970 || text.size() < 10 || text[4] != '-' || text[7] != '-') return false;
  if (text.size() > 10) {
    t->hour = digits_at(text, 11, 2);
    t->minute = digits_at(text, 14, 2);
    if ((text[10] != ' ' && text[10] != 'T') || text.size() < 16 || text[13] != ':') return false;
    if (text.size() > 16) {
      t->second = digits_at(text, 17, 2);
      if (text.size() != 19 || text[16] != ':') return false;
    }
  }
  return valid_clock(*t);
}

std::string two(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

std::string time_text(const LocalTime& t) {
  return std::to_string(t.year) + "-" + two(t.month) + "-" + two(t.day) + " " + two(t.hour) + ":" + two(t.minute) +
         ":" + two(t.second) + "." + two(t.hundredths);
}

}  // namespace

bool LocalTime::operator<(const LocalTime& o) const {
  return std::tie(year, month, day, hour, minute, second, hundredths) <
         std::tie(o.year, o.month, o.day, o.hour, o.minute, o.second, o.hundredths);
}

LocalTime local_time(std::time_t seconds) {
  const platform::CalendarTime c = platform::local_calendar(static_cast<long long>(seconds));
  LocalTime t;
  t.year = c.year;
  t.month = c.month;
  t.day = c.day;
  t.hour = c.hour;
  t.minute = c.minute;
  t.second = c.second;
  return t;
}

LogLine parse_log_line(const std::string& text, const LocalTime& now) {
  LogLine line;
  line.text = text;
  if (text.compare(0, kHeaderMarkLength, LOG_HEADER_MARK) == 0) {
    line.kind = LogLine::header;
    return line;
  }
  LocalTime t;
  if (!parse_record_time(text, true, &t) || text[17] != ' ') return line;
  t.year = year_before(t, now);
  if (text.size() >= kLostAt + kLostMarkLength && text.compare(kLostAt, kLostMarkLength, kLostMark) == 0 &&
      text[kProcess - 1] == ' ') {
    line.kind = LogLine::lost;
  } else if (text.size() >= kPrefix - 1 && text[kProcess - 1] == ' ' && text[kPid - 1] == ' ' &&
             text[kLevel - 1] == ' ' && text[kSource - 1] == ' ' && text[kLine - 1] == ' ' &&
             whole_number(trimmed(text, kPid, kLevel - 1 - kPid), &line.pid) &&
             whole_number(trimmed(text, kLine, kPrefix - kLine), &line.line)) {
    line.kind = LogLine::record;
  } else {
    return line;
  }
  line.time = t;
  line.host = trimmed(text, kHost, kProcess - 1 - kHost);
  line.process = trimmed(text, kProcess, kPid - 1 - kProcess);
  if (line.kind == LogLine::lost) {
    line.text = text.substr(kLostAt);
    return line;
  }
  line.level = trimmed(text, kLevel, kSource - 1 - kLevel);
  if (!parse_level(line.level, &line.rank)) line.rank = -1;
  line.source = trimmed(text, kSource, kLine - 1 - kSource);
  line.text = text.size() > kPrefix ? text.substr(kPrefix) : "";
  return line;
}

FileOffset parse_header(const std::string& line) {
  FileOffset offset;
  long long seconds = 0, hundredths = 0;
  // The mark and the spaces before the seconds.
  std::string lead(LOG_HEADER_MARK);
  lead.resize(LOG_HEADER_SECONDS_AT, ' ');
  const std::string whole = trimmed(line, LOG_HEADER_SECONDS_AT, LOG_HEADER_SECONDS_WIDTH);
  if (line.compare(0, lead.size(), lead) != 0 || line.size() < LOG_HEADER_HUNDREDTHS_AT + LOG_HEADER_HUNDREDTHS_WIDTH ||
      line[LOG_HEADER_POINT_AT] != '.' || whole.empty() || !whole_number(whole, &seconds) ||
      !whole_number(trimmed(line, LOG_HEADER_HUNDREDTHS_AT, LOG_HEADER_HUNDREDTHS_WIDTH), &hundredths) ||
      hundredths < 0)
    return offset;
  offset.set = true;
  offset.hundredths = (seconds < 0 ? -seconds : seconds) * 100 + hundredths;
  if (whole[0] == '-') offset.hundredths = -offset.hundredths;
  return offset;
}

bool parse_since(const std::string& text, std::time_t now, LocalTime* since) {
  if (text.size() >= 2 && text.size() <= 10) {
    const char unit = text.back();
    const long long scale = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : unit == 'd' ? 86400 : 0;
    long long count = 0;
    const std::string number = text.substr(0, text.size() - 1);
    if (scale && digit(number[0]) && whole_number(number, &count)) {
      *since = local_time(now - static_cast<std::time_t>(count * scale));
      return true;
    }
  }
  if (parse_iso_time(text, since)) return true;
  if ((text.size() == 14 || text.size() == 17) && parse_record_time(text, text.size() == 17, since)) {
    since->year = year_before(*since, local_time(now));
    return true;
  }
  return false;
}

const char* const RecordFilter::names[] = {"level", "pid", "process", "source", "since", "match", nullptr};

RecordFilter::RecordFilter() = default;
RecordFilter::~RecordFilter() = default;

bool RecordFilter::set(const std::string& name, const std::string& value, std::time_t now, std::string* error) {
  const std::string shown = "'" + printable(value) + "'";
  if (name == "level") {
    if (parse_level(value, &max_rank_)) return true;
    *error = "unknown level " + shown;
  } else if (name == "pid") {
    long long pid = 0;
    if (!value.empty() && digit(value[0]) && whole_number(value, &pid) && pid <= 0x7FFFFFFFLL) {
      pid_ = memlgqk_reduced_process_id(pid);
      return true;
    }
    *error = "--pid needs a process id (a number from 0), not " + shown;
  } else if (name == "process" || name == "source") {
    if (!value.empty()) {
      // The records show at most this much of the name.
      (name == "process" ? process_ : source_) =
          value.substr(0, name == "process" ? LOG_RECORD_PROCESS_WIDTH : LOG_RECORD_SOURCE_WIDTH);
      return true;
    }
    *error = "--" + name + " needs a name";
  } else if (name == "since") {
    if (parse_since(value, now, &since_)) {
      has_since_ = true;
      return true;
    }
    *error = "bad time " + shown +
             ": give YYYY-MM-DD[ HH:MM[:SS]], MM/DD HH:MM:SS as records show it, or a span such as 10m, 2h, 1d";
  } else if (name == "match") {
    if (const char* why = regexp_check(value.c_str())) {
      *error = "bad pattern " + shown + " for --match: " + why;
    } else {
      match_.reset(new Regex(value.c_str()));
      return true;
    }
  } else {
    *error = "no such condition --" + name;
  }
  return false;
}

bool RecordFilter::empty() const {
  return max_rank_ < 0 && pid_ < 0 && process_.empty() && source_.empty() && !has_since_ && !match_;
}

bool RecordFilter::passes(const LogLine& line) const {
  if (empty()) return true;
  if (line.kind != LogLine::record && line.kind != LogLine::lost) return false;
  if (line.kind == LogLine::lost && (max_rank_ >= 0 || pid_ >= 0 || !source_.empty())) return false;
  if (max_rank_ >= 0 && (line.rank < 0 || line.rank > max_rank_)) return false;
  if (pid_ >= 0 && line.pid != pid_) return false;
  if (!process_.empty() && line.process != process_) return false;
  if (!source_.empty() && line.source != source_) return false;
  if (has_since_ && line.time < since_) return false;
  if (match_) {
    int length = 0;
    const int size = line.text.size() > INT_MAX ? INT_MAX : static_cast<int>(line.text.size());
    if (match_->search(line.text.c_str(), size, length) < 0) return false;
  }
  return true;
}

std::string json_line(const LogLine& line, const FileOffset& offset) {
  std::string out = "{";
  if (line.kind == LogLine::record || line.kind == LogLine::lost) {
    out += "\"time\":" + json_string(time_text(line.time), true) + ",\"host\":" + json_string(line.host, true) +
           ",\"process\":" + json_string(line.process, true) + ",";
  }
  if (line.kind == LogLine::record) {
    out += "\"pid\":" + std::to_string(line.pid) + ",\"level\":" + json_string(line.level, true) +
           ",\"source\":" + json_string(line.source, true) + ",\"line\":" + std::to_string(line.line) + ",";
  }
  out += "\"text\":" + json_string(line.text, true);
  if (offset.set) {
    const long long magnitude = offset.hundredths < 0 ? -offset.hundredths : offset.hundredths;
    out += ",\"offset\":" + std::string(offset.hundredths < 0 ? "-" : "") + std::to_string(magnitude / 100) + "." +
           two(static_cast<int>(magnitude % 100));
  }
  return out + "}\n";
}

}  // namespace qklog
