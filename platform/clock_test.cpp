// The clock as the logger reads it agrees with the C library's, and local calendar time is
// the C library's local time.
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <ctime>

TEST(Clock, ReadsSecondsSince1970WithMillisecondsAndTheZone) {
  const std::time_t before = std::time(nullptr);
  const platform::ClockReading r = platform::clock_now();
  const std::time_t after = std::time(nullptr);
  EXPECT_GE(r.seconds, static_cast<long long>(before));
  EXPECT_LE(r.seconds, static_cast<long long>(after));
  EXPECT_GE(r.milliseconds, 0);
  EXPECT_LE(r.milliseconds, 999);
  EXPECT_GE(r.timezone_minutes, -14 * 60);
  EXPECT_LE(r.timezone_minutes, 12 * 60);
  EXPECT_TRUE(r.daylight == 0 || r.daylight == 1);
}

TEST(Clock, LocalCalendarIsTheLibrarysLocalTime) {
  for (long long seconds : {0LL, 951782400LL /* 29 Feb 2000 */, 1796774400LL, 4102444799LL}) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    const std::tm* expected = std::localtime(&t);
    ASSERT_NE(nullptr, expected);
    const platform::CalendarTime c = platform::local_calendar(seconds);
    EXPECT_EQ(expected->tm_year + 1900, c.year) << seconds;
    EXPECT_EQ(expected->tm_mon + 1, c.month) << seconds;
    EXPECT_EQ(expected->tm_mday, c.day) << seconds;
    EXPECT_EQ(expected->tm_hour, c.hour) << seconds;
    EXPECT_EQ(expected->tm_min, c.minute) << seconds;
    EXPECT_EQ(expected->tm_sec, c.second) << seconds;
  }
}
