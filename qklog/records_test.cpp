// Log-file lines as qklog tail reads them: the prefix's fields, header and lost-record
// lines, the conditions an operator gives, and the JSON printed for a record.
#include "qklog/records.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "qklog/json_check.h"

namespace {

using qklog::LocalTime;
using qklog::LogLine;

// A record line as the writers format it.
std::string record(int month, int day, const char* host, const char* process, long pid, const char* level,
                   const char* source, long line, const std::string& text) {
  char prefix[160];
  std::snprintf(prefix, sizeof prefix, "%02d/%02d %02d:%02d:%02d.%02d %-14.14s %-17.17s %7ld %-12.12s %-20.20s %5ld ",
                month, day, 13, 5, 9, 99, host, process, pid, level, source, line);
  return std::string(prefix).substr(0, 99) + text;
}

std::string header(int seconds, int hundredths, bool negative_zero) {
  char line[160];
  if (seconds != 0)
    std::snprintf(line, sizeof line, "%%%%   %+9d.%2d %-14.14s %d.%02d     %7d %1d", seconds, hundredths, "host",
                  1700000000, 5, -60, 0);
  else
    std::snprintf(line, sizeof line, "%%%%   %9s.%02d %-14.14s %d.%02d     %7d %1d", negative_zero ? "-0" : "+0",
                  hundredths, "host", 1700000000, 5, -60, 0);
  return line;
}

LocalTime day(int year, int month, int d) {
  LocalTime t;
  t.year = year;
  t.month = month;
  t.day = d;
  return t;
}

TEST(QklogRecords, ThePrefixFieldsAreReadWithTheYearThatPutsThemBeforeToday) {
  const LocalTime march = day(2026, 3, 1);
  LogLine l = parse_log_line(record(2, 28, "alpha", "Loader main", 4711, "ERROR", "Brimvale", 42, "text  x "), march);
  ASSERT_EQ(l.kind, LogLine::record);
  EXPECT_EQ(l.time.year, 2026);
  EXPECT_EQ(l.time.month, 2);
  EXPECT_EQ(l.time.hundredths, 99);
  EXPECT_EQ(l.host, "alpha");
  EXPECT_EQ(l.process, "Loader main");
  EXPECT_EQ(l.pid, 4711);
  EXPECT_EQ(l.level, "ERROR");
  EXPECT_EQ(l.rank, 40);
  EXPECT_EQ(l.source, "Brimvale");
  EXPECT_EQ(l.line, 42);
  EXPECT_EQ(l.text, "text  x ");
  EXPECT_EQ(parse_log_line(record(12, 31, "h", "p", 1, "ERROR", "s", 1, "t"), march).time.year, 2025);
  EXPECT_EQ(parse_log_line(record(3, 1, "h", "p", 1, "ERROR", "s", 1, "t"), march).time.year, 2026);

  // Long fields are cut by the writers; a six-digit line takes the prefix's last space.
  l = parse_log_line(record(1, 2, "a-very-long-host-name", "a-process-name-of-more", 9999999, "60",
                            "a_source_module_longer_than_twenty", 123456, "after"),
                     march);
  ASSERT_EQ(l.kind, LogLine::record);
  EXPECT_EQ(l.host, "a-very-long-ho");
  EXPECT_EQ(l.process, "a-process-name-of");
  EXPECT_EQ(l.source, "a_source_module_long");
  EXPECT_EQ(l.line, 123456);
  EXPECT_EQ(l.rank, 60);
  EXPECT_EQ(l.text, "after");
  l = parse_log_line(record(1, 2, "h", "p", 1, "LOUD", "s", 1, ""), march);
  EXPECT_EQ(l.kind, LogLine::record);
  EXPECT_EQ(l.rank, -1);
  EXPECT_EQ(l.text, "");

  // What is not a record: torn or foreign lines, a bad clock, a pid that is no number.
  const std::string good = record(5, 6, "h", "p", 17, "ERROR", "s", 3, "t");
  for (const std::string& other :
       {std::string(), good.substr(0, 60), "13" + good.substr(2), good.substr(0, 51) + "x" + good.substr(52),
        std::string("hello world"), good.substr(0, 6) + "24" + good.substr(8)})
    EXPECT_EQ(parse_log_line(other, march).kind, LogLine::other) << other;
}

TEST(QklogRecords, HeaderAndLostRecordLines) {
  const LocalTime now = day(2026, 6, 1);
  EXPECT_EQ(parse_log_line(header(12, 34, false), now).kind, LogLine::header);
  EXPECT_EQ(qklog::parse_header(header(12, 34, false)).hundredths, 1234);
  EXPECT_EQ(qklog::parse_header(header(-1, 50, false)).hundredths, -150);
  EXPECT_EQ(qklog::parse_header(header(3600, 5, false)).hundredths, 360005);
  EXPECT_EQ(qklog::parse_header(header(0, 3, false)).hundredths, 3);
  EXPECT_EQ(qklog::parse_header(header(0, 3, true)).hundredths, -3);
  EXPECT_TRUE(qklog::parse_header(header(0, 3, true)).set);
  EXPECT_FALSE(qklog::parse_header("%% garbage").set);
  EXPECT_FALSE(qklog::parse_header(record(1, 1, "h", "p", 1, "ERROR", "s", 1, "t")).set);

  const std::string lost =
      record(5, 6, "host", "proc", 1, "ERROR", "s", 1, "").substr(0, 51) +
      "==========> Was unable to write the last 3 messages. Last reason was: No space left on device";
  const LogLine l = parse_log_line(lost, now);
  ASSERT_EQ(l.kind, LogLine::lost);
  EXPECT_EQ(l.host, "host");
  EXPECT_EQ(l.process, "proc");
  EXPECT_EQ(l.text.rfind("==========> Was unable to write the last 3 messages.", 0), 0u);
}

TEST(QklogRecords, SinceTakesDatesTheRecordsOwnTimeAndSpans) {
  const std::time_t now = 1780000000;  // in May 2026 in every time zone
  const LocalTime here = qklog::local_time(now);
  LocalTime t;
  ASSERT_TRUE(qklog::parse_since("10m", now, &t));
  const LocalTime ten = qklog::local_time(now - 600);
  EXPECT_FALSE(t < ten);
  EXPECT_FALSE(ten < t);
  ASSERT_TRUE(qklog::parse_since("2d", now, &t));
  EXPECT_TRUE(t < here);
  ASSERT_TRUE(qklog::parse_since("2026-01-02 03:04:05", now, &t));
  EXPECT_EQ(t.year * 10000 + t.month * 100 + t.day, 20260102);
  EXPECT_EQ(t.hour * 10000 + t.minute * 100 + t.second, 30405);
  ASSERT_TRUE(qklog::parse_since("2026-01-02T03:04", now, &t));
  EXPECT_EQ(t.minute, 4);
  EXPECT_EQ(t.second, 0);
  ASSERT_TRUE(qklog::parse_since("2026-01-02", now, &t));
  EXPECT_EQ(t.hour, 0);
  ASSERT_TRUE(qklog::parse_since("12/24 18:00:00", now, &t));
  EXPECT_EQ(t.year, here.year - 1) << "a December date lies in the year before May";
  ASSERT_TRUE(qklog::parse_since("01/24 18:00:00.50", now, &t));
  EXPECT_EQ(t.year, here.year);
  EXPECT_EQ(t.hundredths, 50);
  for (const char* bad : {"", "yesterday", "10", "m", "10x", "-5m", "2026-13-01", "2026-01-32", "2026-1-2",
                          "2026-01-02 25:00", "2026-01-02 03:04:05:06", "2026-01-02 03", "12/24", "12/24 18:00",
                          "99999999999m"})
    EXPECT_FALSE(qklog::parse_since(bad, now, &t)) << bad;
}

TEST(QklogRecords, ConditionsCombineAndBadValuesAreRefusedWithAReason) {
  const LocalTime now = day(2026, 6, 1);
  const LogLine error = parse_log_line(record(5, 6, "h", "Loader", 4711, "ERROR", "Brimvale", 1, "disk full"), now);
  const LogLine warning = parse_log_line(record(5, 6, "h", "Other", 4711, "WARNING", "logger", 1, "careful"), now);
  const LogLine numbered = parse_log_line(record(5, 6, "h", "Other", 12, "60", "logger", 1, "sixty"), now);
  const LogLine lost = parse_log_line(
      record(5, 6, "h", "Loader", 1, "ERROR", "s", 1, "").substr(0, 51) + "==========> Was unable", now);
  std::string why;
  {
    qklog::RecordFilter none;
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(none.passes(parse_log_line("%% header", now)));
  }
  {
    qklog::RecordFilter f;
    ASSERT_TRUE(f.set("level", "warning", 0, &why));
    EXPECT_TRUE(f.passes(error));
    EXPECT_TRUE(f.passes(warning));
    EXPECT_TRUE(f.passes(numbered)) << "rank 60 is more important than WARNING's 70";
    EXPECT_FALSE(f.passes(lost));
    EXPECT_FALSE(f.passes(parse_log_line("%% header", now)));
    ASSERT_TRUE(f.set("level", "ERROR", 0, &why));
    EXPECT_FALSE(f.passes(warning));
    EXPECT_FALSE(f.passes(numbered));
  }
  {
    qklog::RecordFilter f;
    ASSERT_TRUE(f.set("pid", "104711", 0, &why));  // taken modulo 100000, as records show it
    ASSERT_TRUE(f.set("match", "d\\(is\\|oor\\)k* f[a-z]+$", 0, &why));
    EXPECT_TRUE(f.passes(error));
    EXPECT_FALSE(f.passes(warning));
    ASSERT_TRUE(f.set("source", "logger", 0, &why));
    EXPECT_FALSE(f.passes(error)) << "the conditions must all hold";
  }
  {
    qklog::RecordFilter f;
    ASSERT_TRUE(f.set("process", "Loader", 0, &why));
    EXPECT_TRUE(f.passes(error));
    EXPECT_TRUE(f.passes(lost));
    EXPECT_FALSE(f.passes(warning));
    ASSERT_TRUE(f.set("process", "a-process-name-of-more", 0, &why));
    EXPECT_TRUE(f.passes(parse_log_line(record(5, 6, "h", "a-process-name-of-more", 1, "ERROR", "s", 1, ""), now)))
        << "the name as far as the records show it";
  }
  {
    qklog::RecordFilter f;
    ASSERT_TRUE(f.set("since", "2026-05-06 13:05:09", 0, &why));
    EXPECT_TRUE(f.passes(error));
    ASSERT_TRUE(f.set("since", "2026-05-06 13:05:10", 0, &why));
    EXPECT_FALSE(f.passes(error));
  }
  const struct {
    const char* name;
    const char* value;
    const char* message;
  } bad[] = {
      {"level", "LOUD", "unknown level 'LOUD'"},
      {"level", "", "unknown level ''"},
      {"pid", "x1", "--pid needs a process id (a number from 0), not 'x1'"},
      {"pid", "-3", "--pid needs a process id (a number from 0), not '-3'"},
      {"pid", "99999999999", "--pid needs a process id"},
      {"process", "", "--process needs a name"},
      {"source", "", "--source needs a name"},
      {"since", "soon\x01", "bad time 'soon\\x01': give YYYY-MM-DD"},
      {"match", "\\(open", "bad pattern '\\x5c(open' for --match: unmatched ()"},
      {"match", "a**", "bad pattern 'a**' for --match: nested *?+"},
  };
  for (const auto& b : bad) {
    qklog::RecordFilter f;
    why.clear();
    EXPECT_FALSE(f.set(b.name, b.value, 0, &why)) << b.name;
    EXPECT_EQ(why.rfind(b.message, 0), 0u) << why;
    EXPECT_TRUE(f.empty()) << b.name;
  }
}

TEST(QklogRecords, JsonLinesAreValidForAnyBytesWithNumbersAsNumbers) {
  const LocalTime now = day(2026, 6, 1);
  const std::string nasty = "q\"b\\s\t\x01\x7f \xc3\xbc \xff\xc3 end";
  qklog::FileOffset offset;
  const std::string json = qklog::json_line(
      parse_log_line(record(5, 6, "h\"ost", "Lo\\ader", 4711, "ERROR", "Brimvale", 42, nasty), now), offset);
  ASSERT_EQ(json.back(), '\n');
  qklog_test::JsonObject o;
  ASSERT_TRUE(o.parse(json.substr(0, json.size() - 1))) << json;
  EXPECT_EQ(o.values().size(), 8u);
  EXPECT_EQ(o["time"], "2026-05-06 13:05:09.99");
  EXPECT_EQ(o["host"], "h\"ost");
  EXPECT_EQ(o["process"], "Lo\\ader");
  EXPECT_EQ(o["pid"], "#4711");
  EXPECT_EQ(o["level"], "ERROR");
  EXPECT_EQ(o["source"], "Brimvale");
  EXPECT_EQ(o["line"], "#42");
  EXPECT_EQ(o["text"], "q\"b\\s\\u0009\\u0001\\u007f \xc3\xbc \\ufffd\\ufffd end");

  offset.set = true;
  for (const auto& c : {std::make_pair(1234LL, "#12.34"), std::make_pair(-3LL, "#-0.03"), std::make_pair(0LL, "#0.00")}) {
    offset.hundredths = c.first;
    const std::string line = qklog::json_line(parse_log_line(record(5, 6, "h", "p", 1, "60", "s", 1, "t"), now), offset);
    ASSERT_TRUE(o.parse(line.substr(0, line.size() - 1))) << line;
    EXPECT_EQ(o["offset"], c.second);
    EXPECT_EQ(o["level"], "60");
  }
  offset.set = false;
  std::string line = qklog::json_line(
      parse_log_line(record(5, 6, "h", "p", 1, "", "", 1, "").substr(0, 51) + "==========> Was", now), offset);
  ASSERT_TRUE(o.parse(line.substr(0, line.size() - 1))) << line;
  EXPECT_EQ(o.values().size(), 4u);
  EXPECT_EQ(o["pid"], "<none>");
  line = qklog::json_line(parse_log_line("\x80 foreign \x1b[0m line", now), offset);
  ASSERT_TRUE(o.parse(line.substr(0, line.size() - 1))) << line;
  EXPECT_EQ(o.values().size(), 1u);
  EXPECT_EQ(o["text"], "\\ufffd foreign \\u001b[0m line");
}

}  // namespace
