// The logger front end: levels, thresholds, process names, record prefix and messages.
#include "log/logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>

#include "log/internal/record.h"
#include "log/record_layout.h"
#include "log/detail/logstate.h"
#include "platform/stackwalk/stacktrace_seam.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"
#include "tests/support/scoped_override.h"

namespace {

using testsupport::ScopedEnv;

// 8 December, 17:34:04 local time, with the milliseconds a test sets.
int fixed_milliseconds = 270;
platform::ClockReading fixedClock() {
  std::tm t = {};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 8;
  t.tm_hour = 17;
  t.tm_min = 34;
  t.tm_sec = 4;
  t.tm_isdst = -1;
  platform::ClockReading r;
  r.seconds = static_cast<long long>(std::mktime(&t));
  r.milliseconds = fixed_milliseconds;
  return r;
}

std::string prefixFor(int milliseconds, int level, const char* source, int line,
                      const char* host = "myhost", const char* process = "Brimvale",
                      int pid = 4711) {
  fixed_milliseconds = milliseconds;
  char out[logimpl::kPrefixBuffer];
  int n = logimpl::formatPrefix(out, fixedClock(), host, process, pid, level,
                                logimpl::baseName(source), line);
  return std::string(out, n);
}

// The clock of the record writer is fixed and the threshold restored around each test.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(nullptr, stdlog);
    fixed_milliseconds = 270;
    saved_level_ = stdlog->level();
  }
  void TearDown() override { stdlog->setLevel(saved_level_); }
  // The standard-error line of a record written now by this process.
  static std::string recordLine(int level, const char* source, int line, const std::string& text) {
    return "LoggerQK: " + prefixFor(270, level, source, line, log_process.host, shownProcessName(),
                                    log_process.pid) +
           text + "\n";
  }

 private:
  testsupport::ScopedOverride<decltype(logimpl::clock)> clock_{logimpl::clock, fixedClock};
  testsupport::ScopedOverride<platform::StackTextSource> no_engine_{platform::set_stack_text_source, nullptr};
  int saved_level_ = 0;
};

TEST(LogPrefix, EachFieldBeginsAtItsColumnCutToItsWidth) {
  const std::string p = prefixFor(270, SEVERE_ERROR, "src/ffffffffffffffffffffffff.cpp", 12345,
                                  "hhhhhhhhhhhhhhhhhh", "pppppppppppppppppppp", 1234567);
  ASSERT_EQ(static_cast<std::size_t>(LOG_RECORD_PREFIX_WIDTH), p.size()) << p;
  const struct {
    int at, width;
    std::string text;
  } fields[] = {
      {LOG_RECORD_HOST_AT, LOG_RECORD_HOST_WIDTH, std::string(14, 'h')},
      {LOG_RECORD_PROCESS_AT, LOG_RECORD_PROCESS_WIDTH, std::string(17, 'p')},
      {LOG_RECORD_PID_AT, LOG_RECORD_PID_WIDTH, "1234567"},
      {LOG_RECORD_LEVEL_AT, LOG_RECORD_LEVEL_WIDTH, "SEVERE_ERROR"},
      {LOG_RECORD_SOURCE_AT, LOG_RECORD_SOURCE_WIDTH, std::string(20, 'f')},
      {LOG_RECORD_LINE_AT, LOG_RECORD_LINE_WIDTH, "12345"},
  };
  for (const auto& f : fields) {
    EXPECT_EQ(f.text, p.substr(f.at, f.width)) << p;
    EXPECT_EQ(' ', p[f.at - 1]) << f.at;
  }
  EXPECT_EQ(' ', p.back());
}

TEST(LogLevels, ParseNamesInAnyCaseAndNumbers) {
  EXPECT_EQ(0, parseLevel(nullptr));
  EXPECT_EQ(70, parseLevel("warning"));
  EXPECT_EQ(250, parseLevel("Verbose"));
  EXPECT_EQ(40, parseLevel("ERROR"));
  EXPECT_EQ(35, parseLevel("severe_error"));
  EXPECT_EQ(60, parseLevel("minimum"));
  EXPECT_EQ(50, parseLevel("ABS_MINIMUM"));
  EXPECT_EQ(0, parseLevel("fatal"));
  EXPECT_EQ(100, parseLevel("100"));
  EXPECT_EQ(120, parseLevel("  +120xyz"));
  EXPECT_EQ(0, parseLevel("loud"));
  EXPECT_EQ(0, parseLevel("VERBOSE "));  // names match exactly
  EXPECT_EQ(0x7FFF, parseLevel("-1"));
  EXPECT_EQ(10, parseLevel("32778"));
  // Beyond the range of 32 bits a number counts as the range's end, on every build.
  EXPECT_EQ(0x7FFF, parseLevel("4294967346"));
  EXPECT_EQ(0x7FFF, parseLevel("99999999999999999999999"));
  EXPECT_EQ(0, parseLevel("-4294967346"));
}

TEST(LogLevels, NamesOfExactLevelsElseDecimal) {
  EXPECT_STREQ("ERROR", levelName(32808));
  EXPECT_STREQ("FATAL", levelName(FATAL));
  EXPECT_STREQ("SEVERE_ERROR", levelName(SEVERE_ERROR));
  EXPECT_STREQ("VERBOSE", levelName(250));
  EXPECT_STREQ("60", levelName(MINIMUM));
  EXPECT_STREQ("50", levelName(ABS_MINIMUM));
  EXPECT_STREQ("70", levelName(70));  // WARNING is 32838, not its rank
  EXPECT_STREQ("-3", levelName(-3));
}

TEST(LogThreshold, FromTheEnvironmentWithAFloorOf50) {
  ScopedEnv std_level("QK_LOG_LEVEL_STD", nullptr);
  ScopedEnv bstrap_level("QK_LOG_LEVEL_BSTRAP", nullptr);
  {
    ScopedEnv level("QK_LOG_LEVEL", nullptr);
    EXPECT_EQ(0, environmentThreshold(LOG_MODE_STANDARD));
  }
  const struct {
    const char* value;
    int expected;
  } cases[] = {{"VERBOSE", 250}, {"40", 0}, {"ERROR", 0}, {"fatal", 0},
               {"50", 50},       {"49", 0}, {"milestone", 90}, {"ABS_MINIMUM", 50}};
  for (const auto& c : cases) {
    ScopedEnv level("QK_LOG_LEVEL", c.value);
    EXPECT_EQ(c.expected, environmentThreshold(LOG_MODE_STANDARD)) << c.value;
    EXPECT_EQ(c.expected, environmentThreshold(LOG_MODE_STDERR_ONLY)) << c.value;
  }
}

TEST(LogThreshold, ModeVariableWinsOverTheGeneralOne) {
  ScopedEnv level("QK_LOG_LEVEL", "VERBOSE");
  ScopedEnv std_level("QK_LOG_LEVEL_STD", "TRACE");
  ScopedEnv bstrap_level("QK_LOG_LEVEL_BSTRAP", "INFORMATION");
  EXPECT_EQ(200, environmentThreshold(LOG_MODE_STANDARD));
  EXPECT_EQ(80, environmentThreshold(LOG_MODE_BOOTSTRAP));
  EXPECT_EQ(80, environmentThreshold(LOG_MODE_STDERR_ONLY));
  {
    // A mode variable below the floor is refused without falling back.
    ScopedEnv low("QK_LOG_LEVEL_STD", "ERROR");
    EXPECT_EQ(0, environmentThreshold(LOG_MODE_STANDARD));
  }
  {
    ScopedEnv unparsable("QK_LOG_LEVEL_BSTRAP", "none");
    EXPECT_EQ(250, environmentThreshold(LOG_MODE_BOOTSTRAP));
  }
}

struct NameCase {
  const char* program;
  int mode;
  const char* name;
  const char* override_pattern;
};

TEST(LogProcessName, BootstrapForms) {
  const NameCase cases[] = {
      {"Brimvale", LOG_MODE_STANDARD, "Brimvale", ""},
      {"BSTRAP", LOG_MODE_STANDARD, "BSTRAP", ""},
      {"other:Loader:x", LOG_MODE_STANDARD, "other:Loader:x", ""},
      {"bstrap:Loader:stderr", LOG_MODE_STDERR_ONLY, "Loader", "stderr"},
      {"BSTRAP::myfile", LOG_MODE_BOOTSTRAP, "", "myfile.%0"},
      {"BSTRAP:Loader", LOG_MODE_BOOTSTRAP, "Loader", "Loader.%0"},
      {"BSTRAP:Loader:", LOG_MODE_BOOTSTRAP, "Loader", "Loader.%0"},
      {"Bstrap:Loader:boot.%2", LOG_MODE_BOOTSTRAP, "Loader", "boot.%2"},
      {"BSTRAP:", LOG_MODE_BOOTSTRAP, "", "ProcID_1234567.%0"},
      {"BSTRAP::stderr", LOG_MODE_STDERR_ONLY, "", "stderr"},
      {"BSTRAP:abcdefghijklmnopqrstuvwxyz0123456789", LOG_MODE_BOOTSTRAP,
       "abcdefghijklmnopqrstuvwxyz01234", "abcdefghijklmnopqrstuvwxyz01234.%0"},
  };
  for (const NameCase& c : cases) {
    LogProcessSettings s = {};
    s.mode = -1;
    std::strcpy(s.identity, "stale");
    applyProgramName(s, c.program, 1234567);
    EXPECT_EQ(c.mode, s.mode) << c.program;
    EXPECT_STREQ(c.name, s.process_name) << c.program;
    EXPECT_STREQ(c.override_pattern, s.file_override) << c.program;
    EXPECT_STREQ("", s.identity) << c.program;
  }
}

TEST(LogProcessName, ASetNameComesBeforeTheProgramName) {
  LogProcessSettings s = {};
  std::strcpy(s.process_name, "Given");
  applyProgramName(s, "Brimvale", 1);
  EXPECT_STREQ("Given", s.process_name);
  LogProcessSettings none = {};
  applyProgramName(none, nullptr, 1);
  EXPECT_STREQ("?", none.process_name);
  // The name is held to 63 characters, so the longest file part is 55.
  LogProcessSettings longer = {};
  applyProgramName(longer, ("BSTRAP::" + std::string(80, 'f')).c_str(), 1);
  EXPECT_EQ(std::string(55, 'f') + ".%0", longer.file_override);
}

// A child started under a bootstrap program name writes one record (the stress writer).
std::string bootstrapChildRecord(const char* program) {
  ScopedEnv name("QK_TEST_PROGRAM_NAME", program);
  ScopedEnv records("QK_STRESS_RECORDS", "1");
  testsupport::Run r = testsupport::run_child("WriteRecords");
  EXPECT_EQ(0u, r.exit_code) << r.err;
  const std::size_t at = r.err.find("LoggerQK: ");
  return at == std::string::npos ? r.err : r.err.substr(at + 10);
}

TEST(LogProcessName, BootstrapStderrFormsWriteToStandardError) {
  std::string record = bootstrapChildRecord("bstrap:Loader:stderr");
  EXPECT_EQ("Loader            ", record.substr(33, 18)) << record;
  EXPECT_EQ("stress ", record.substr(99, 7)) << record;
  record = bootstrapChildRecord("BSTRAP::stderr");
  const std::string shown = record.substr(33, 17);
  const std::string pid = record.substr(51, 7);
  EXPECT_EQ("ProcID_" + std::to_string(std::stoi(pid)), shown.substr(0, shown.find(' '))) << record;
}

TEST(RecordPrefix, FieldsAndWidths) {
  const std::string p = prefixFor(270, ERROR, "src/Brimvale", 88);
  EXPECT_EQ(99u, p.size());
  EXPECT_EQ(
      "12/08 17:34:04.27 myhost         Brimvale             4711 ERROR        Brimvale             "
      "   88 ",
      p);
}

TEST(RecordPrefix, HundredthsRoundButNeverReach100) {
  EXPECT_EQ(0, logimpl::hundredths(0));
  EXPECT_EQ(0, logimpl::hundredths(4));
  EXPECT_EQ(1, logimpl::hundredths(5));
  EXPECT_EQ(99, logimpl::hundredths(994));
  for (int ms = 995; ms <= 999; ++ms) {
    EXPECT_EQ(99, logimpl::hundredths(ms));
    EXPECT_EQ("12/08 17:34:04.99 ", prefixFor(ms, ERROR, "x", 1).substr(0, 18));
  }
}

TEST(RecordPrefix, LevelsWithoutNameAndSourcePaths) {
  EXPECT_EQ("60           ", prefixFor(0, MINIMUM, "x", 1).substr(59, 13));
  // Backslashes are no separators: the whole path is shown, cut at 20.
  EXPECT_EQ("C:\\src\\log\\logger.cp ", prefixFor(0, ERROR, "C:\\src\\log\\logger.cpp", 1).substr(72, 21));
  EXPECT_EQ("logger               ", prefixFor(0, ERROR, "a/b\\c/logger", 1).substr(72, 21));
  // Long host and process names are cut; numbers keep their widths.
  const std::string p = prefixFor(0, VERBOSE, "x", 12345, "host-with-a-long-name",
                                  "process-with-a-long-name", 99999);
  EXPECT_EQ(99u, p.size());
  EXPECT_EQ("host-with-a-lo process-with-a-lo   99999 VERBOSE      x                    12345 ",
            p.substr(18));
}

TEST(RecordPrefix, MatchesTheRecordFormatForAnyValues) {
  const struct {
    int ms, level, line, pid;
    const char *host, *process, *source;
  } cases[] = {
      {0, ERROR, 0, 0, "", "", ""},
      {999, 60, -12, 99999, "h", "p", "s"},
      {500, VERBOSE, 123456789, 12345678, "host-longer-than-fourteen", "a-process-name-over-17", "source-file-name-over-twenty"},
      {7, -5, 2147483647, -42, "x", "ProcID_17", "init"},
  };
  for (const auto& c : cases) {
    fixed_milliseconds = c.ms;
    const platform::ClockReading now = fixedClock();
    const platform::CalendarTime t = platform::local_calendar(now.seconds);
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "%02d/%02d %02d:%02d:%02d.%02d %-14.14s %-17.17s %7d %-12.12s %-20.20s %5d ",
                  t.month, t.day, t.hour, t.minute, t.second, logimpl::hundredths(c.ms), c.host,
                  c.process, c.pid % 10000000, levelName(c.level), c.source, c.line);
    char out[logimpl::kPrefixBuffer];
    const int n = logimpl::formatPrefix(out, now, c.host, c.process, c.pid, c.level, c.source, c.line);
    EXPECT_EQ(std::string(expected), std::string(out, n));
  }
}

TEST_F(LoggerTest, ThresholdComparesRanksLessOrEqual) {
  LogSink* sink = existingDefaultSink();
  ASSERT_NE(nullptr, sink);
  stdlog->setLevel(MINIMUM);
  for (int level : {FATAL + 0, EXIT + 0, RESTART + 0, SIGNIFICANT + 0, SEVERE_ERROR + 0, ERROR + 0})
    EXPECT_TRUE(sink->wants("logger_test", 1, level)) << level;
  for (int level : {WARNING + 0, INFORMATION + 0, MILESTONE + 0, TRACE + 0, VERBOSE + 0})
    EXPECT_FALSE(sink->wants("logger_test", 1, level)) << level;
  stdlog->setLevel(90);
  EXPECT_TRUE(sink->wants("logger_test", 1, MILESTONE));
  EXPECT_FALSE(sink->wants("logger_test", 1, 91));
  stdlog->setLevel(VERBOSE);
  EXPECT_TRUE(sink->wants("logger_test", 1, VERBOSE));
  stdlog->setLevel(0x8000 | 90);  // the flag bit takes no part
  EXPECT_TRUE(sink->wants("logger_test", 1, MILESTONE));
  EXPECT_EQ(0x8000 | 90, stdlog->level());  // stored as given
}

TEST_F(LoggerTest, ARecordIsOneLineOnStandardError) {
  stdlog->setLevel(MINIMUM);
  EXPECT_FALSE(stdlog->isOn("logger_test", __LINE__, MILESTONE));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(stdlog->isOn("dir/logger_test", 42, ERROR));
  stdlog->stream() << "two\r\nwords " << 17;
  stdlog->commit();
  EXPECT_EQ(recordLine(ERROR, "logger_test", 42, "two  words 17"), testing::internal::GetCapturedStderr());
}

TEST_F(LoggerTest, TheModuleLoggingHelperIsTheLevelTestAndCommit) {
  stdlog->setLevel(MINIMUM);
  int evaluated = 0;
  auto count = [&evaluated] { return ++evaluated; };
  testing::internal::CaptureStderr();
  QK_LOG_AT("logger_test", 10, MILESTONE) << "below the threshold " << count();
  if (evaluated == 0) QK_LOG_AT("logger_test", 11, ERROR) << "written " << count();
  else QK_LOG_AT("logger_test", 12, ERROR) << "the else branch";
  EXPECT_EQ(recordLine(ERROR, "logger_test", 11, "written 1"), testing::internal::GetCapturedStderr());
  EXPECT_EQ(1, evaluated);
}

TEST_F(LoggerTest, EmptyAndLongTexts) {
  stdlog->setLevel(MINIMUM);
  const std::string long_text(200, 'L');
  testing::internal::CaptureStderr();
  ASSERT_TRUE(stdlog->isOn("logger_test", 1, ERROR));
  stdlog->commit();
  ASSERT_TRUE(stdlog->isOn("logger_test", 2, ERROR));
  stdlog->stream() << long_text;
  stdlog->commit();
  EXPECT_EQ(recordLine(ERROR, "logger_test", 1, "") + recordLine(ERROR, "logger_test", 2, long_text),
            testing::internal::GetCapturedStderr());
}

// Inserting it logs a record of its own while the outer message is open.
struct Chatty {};
std::ostream& operator<<(std::ostream& out, const Chatty&) {
  if (stdlog && stdlog->isOn("inner", 7, ERROR)) {
    stdlog->stream() << "inner message";
    stdlog->commit();
  }
  return out << "[chatty]";
}

TEST_F(LoggerTest, NestedMessagesKeepTheOuterIntact) {
  stdlog->setLevel(MINIMUM);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(stdlog->isOn("outer", 3, ERROR));
  stdlog->stream() << "before " << Chatty() << " after";
  stdlog->commit();
  // The frame is free again: the next message starts empty.
  ASSERT_TRUE(stdlog->isOn("outer", 4, ERROR));
  stdlog->stream() << "next";
  stdlog->commit();
  EXPECT_EQ(recordLine(ERROR, "inner", 7, "inner message") +
                recordLine(ERROR, "outer", 3, "before [chatty] after") +
                recordLine(ERROR, "outer", 4, "next"),
            testing::internal::GetCapturedStderr());
}

const char* loggerStack(const char*) { return "logger:120;Brimvale:33;"; }
const char* foreignStack(const char*) { return "sym_engine:1;"; }

TEST_F(LoggerTest, SevereErrorsComeWithTheStackWhenItStartsInTheLogger) {
  stdlog->setLevel(MINIMUM);
  platform::set_stack_text_source(loggerStack);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(stdlog->isOn("String", 5, SEVERE_ERROR));
  stdlog->stream() << "bad handle";
  stdlog->commit();
  platform::set_stack_text_source(foreignStack);
  ASSERT_TRUE(stdlog->isOn("String", 6, SEVERE_ERROR));
  stdlog->stream() << "bad again";
  stdlog->commit();
  platform::set_stack_text_source(nullptr);
  ASSERT_TRUE(stdlog->isOn("String", 7, SEVERE_ERROR));
  stdlog->commit();
  EXPECT_EQ(recordLine(SIGNIFICANT, "String", 5, "logger:120;Brimvale:33;") +
                recordLine(SEVERE_ERROR, "String", 5, "bad handle") +
                recordLine(SEVERE_ERROR, "String", 6, "bad again") +
                recordLine(SEVERE_ERROR, "String", 7, ""),
            testing::internal::GetCapturedStderr());
}

TEST_F(LoggerTest, BufferSizeIsKeptWhileAMessageIsOpen) {
  stdlog->setLevel(MINIMUM);
  EXPECT_EQ(1024, stdlog->bufsize());
  stdlog->setBufsize(2048);
  EXPECT_EQ(2048, stdlog->bufsize());
  testing::internal::CaptureStderr();
  ASSERT_TRUE(stdlog->isOn("logger_test", 9, ERROR));
  stdlog->stream() << "open";
  stdlog->setBufsize(4096);
  stdlog->setBufsize(2048);  // the same size: nothing to say
  stdlog->commit();
  EXPECT_EQ(recordLine(ERROR, "logger", 529,
                       "Attempt to set logger bufsize to 4096 while buffer in use with a size of 2048") +
                recordLine(ERROR, "logger_test", 9, "open"),
            testing::internal::GetCapturedStderr());
  EXPECT_EQ(2048, stdlog->bufsize());
  stdlog->setBufsize(1024);
}

TEST_F(LoggerTest, EchoStreamGetsTheTextAndWithAllFlagsThePrefix) {
  std::ostringstream echo;
  testing::internal::CaptureStderr();
  writeRecord(existingDefaultSink(), ERROR, "a/b/echo", 8, "echoed", 6, -1, &echo, 0x1FF);
  writeRecord(existingDefaultSink(), ERROR, "echo", 9, "plain", 5, -1, &echo, 0x1FE);
  testing::internal::GetCapturedStderr();
  const std::string prefix = prefixFor(270, ERROR, "echo", 8, log_process.host, shownProcessName(),
                                       log_process.pid);
  EXPECT_EQ(prefix + "echoed\nplain\n", echo.str());
}

TEST_F(LoggerTest, LoggersOfTheirOwnAndBadObjects) {
  LOGGER_QK* shared = new LOGGER_QK();
  shared->setLevel(MINIMUM);
  EXPECT_EQ(MINIMUM, stdlog->level());  // one sink for both
  EXPECT_EQ(100000, shared->fileLimit());
  EXPECT_STREQ("stdlog.%1", shared->filePattern());
  EXPECT_STREQ(".", shared->fileDirectory());
  EXPECT_FALSE(shared->removeFileFilter("Brimvale", 2));
  EXPECT_FALSE(shared->removeFileFilter("Brimvale", 3));
  delete shared;
  EXPECT_NE(nullptr, existingDefaultSink());

  alignas(LOGGER_QK) unsigned char raw[sizeof(LOGGER_QK)] = {};
  EXPECT_FALSE(reinterpret_cast<LOGGER_QK*>(raw)->isOn("x", 1, FATAL));
}

}  // namespace
