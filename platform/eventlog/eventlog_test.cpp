// The event log's promises on every build: an event is written whatever its text holds,
// each kind of event reaches the system as the system names that kind, and the test seam
// sees each event as it was given.
#include "platform/eventlog/eventlog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/eventlog_testing.h"

// What the system calls the three kinds: syslog's priorities on POSIX, ReportEventA's
// event types on Windows.
#ifdef _WIN32
#include <windows.h>
const int kInformation = EVENTLOG_INFORMATION_TYPE;
const int kWarning = EVENTLOG_WARNING_TYPE;
const int kError = EVENTLOG_ERROR_TYPE;
#else
#include <syslog.h>
const int kInformation = LOG_INFO;
const int kWarning = LOG_WARNING;
const int kError = LOG_ERR;
#endif

namespace {

struct Event {
  std::string source;
  platform::EventType type;
  std::string text;
};

TEST(EventLog, TheSinkReceivesEachEventAsGiven) {
  std::vector<Event> seen;
  platform::testing::set_event_sink(
      [&seen](const std::string& source, platform::EventType type, const std::string& text) {
        seen.push_back(Event{source, type, text});
      });
  EXPECT_TRUE(platform::event_log_write("ZQ_KVO", platform::EventType::warning, "KVO[op]: disk nearly full"));
  EXPECT_TRUE(platform::event_log_write("other", platform::EventType::error, std::string("a\0b", 3)));
  platform::testing::set_event_sink(nullptr);
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ("ZQ_KVO", seen[0].source);
  EXPECT_EQ(platform::EventType::warning, seen[0].type);
  EXPECT_EQ("KVO[op]: disk nearly full", seen[0].text);
  EXPECT_EQ("other", seen[1].source);
  EXPECT_EQ(platform::EventType::error, seen[1].type);
  EXPECT_EQ(std::string("a\0b", 3), seen[1].text);
}

// The system's own log: the text is data, never a format, so conversion directives in it
// neither read nor write anything.
TEST(EventLog, TheSystemsLogTakesAnyText) {
  const std::string text = "KVO[test]: %s%s%s%n%n %x %d%%";
  EXPECT_TRUE(platform::event_log_write("QK_EVENTLOG_TEST", platform::EventType::information, text));
  EXPECT_TRUE(platform::event_log_write("QK_EVENTLOG_TEST", platform::EventType::warning, text));
  EXPECT_TRUE(platform::event_log_write("QK_EVENTLOG_TEST", platform::EventType::error, text));
  EXPECT_TRUE(platform::event_log_write("QK_EVENTLOG_TEST", platform::EventType::error, std::string(4000, 'L')));
}

struct SystemEvent {
  std::string source;
  int kind;
  std::string text;
};

std::vector<SystemEvent>& system_calls() {
  static std::vector<SystemEvent> seen;
  return seen;
}

void remember(const std::string& source, int kind, const std::string& text) {
  system_calls().push_back(SystemEvent{source, kind, text});
}

TEST(EventLog, EachKindReachesTheSystemAsTheSystemNamesIt) {
  system_calls().clear();
  platform::testing::set_system_event_call(remember);
  platform::event_log_write("ZQ_KVO", platform::EventType::information, "KVO[op]: started");
  platform::event_log_write("ZQ_KVO", platform::EventType::warning, "KVO[op]: slow");
  platform::event_log_write("ZQ_KVO", platform::EventType::error, "KVO[op]: %s failed");
  platform::testing::set_system_event_call(nullptr);
  ASSERT_EQ(3u, system_calls().size());
  EXPECT_EQ(kInformation, system_calls()[0].kind);
  EXPECT_EQ(kWarning, system_calls()[1].kind);
  EXPECT_EQ(kError, system_calls()[2].kind);
  for (const SystemEvent& e : system_calls()) EXPECT_EQ("ZQ_KVO", e.source);
  EXPECT_EQ("KVO[op]: started", system_calls()[0].text);
  EXPECT_EQ("KVO[op]: %s failed", system_calls()[2].text);
}

}  // namespace
