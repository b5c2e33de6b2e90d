// The clock as the logger reads it agrees with the C library's, and local calendar time is
// the C library's local time.
#include "platform/clock/clock.h"

#include <gtest/gtest.h>

#include <ctime>

TEST(Clock, ReadsSecondsSince1970WithMillisecondsAndTheZone) {
  const std::time_t before = std::time(nullptr);
  const platform::ClockReading r = platform::clock_now();
  const std::time_t after = std::time(nullptr);
  EXPECT_GE(r.seconds, static_cast<long long>(before));
  // The C library's time() reads a clock that may lag the precise one by a tick, so just
  // after a second begins the reading may already be one second ahead of it.
  EXPECT_LE(r.seconds, static_cast<long long>(after) + 1);
  EXPECT_GE(r.milliseconds, 0);
  EXPECT_LE(r.milliseconds, 999);
  EXPECT_GE(r.timezone_minutes, -14 * 60);
  EXPECT_LE(r.timezone_minutes, 12 * 60);
  EXPECT_TRUE(r.daylight == 0 || r.daylight == 1);
}

TEST(Clock, LocalCalendarIsTheLibrarysLocalTime) {
  for (long long seconds : {0LL, 951782400LL /* 29 Feb 2000 */, 1796774400LL, 4102444799LL}) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    // A 32-bit time_t (the i686 build's) ends in 2038: the library has no answer to
    // compare with beyond it.
    if (static_cast<long long>(t) != seconds) continue;
    const std::tm* expected = std::localtime(&t);
    ASSERT_NE(nullptr, expected) << seconds;
    const platform::CalendarTime c = platform::local_calendar(seconds);
    EXPECT_EQ(expected->tm_year + 1900, c.year) << seconds;
    EXPECT_EQ(expected->tm_mon + 1, c.month) << seconds;
    EXPECT_EQ(expected->tm_mday, c.day) << seconds;
    EXPECT_EQ(expected->tm_hour, c.hour) << seconds;
    EXPECT_EQ(expected->tm_min, c.minute) << seconds;
    EXPECT_EQ(expected->tm_sec, c.second) << seconds;
  }
}

// The calendar goes on after 2038 on every build, a 32-bit one included: the last second of
// 2099 (UTC) and the one a day before fall on consecutive days at the same time of day.
TEST(Clock, LocalCalendarGoesOnAfter2038) {
  const platform::CalendarTime last = platform::local_calendar(4102444799LL);
  const platform::CalendarTime before = platform::local_calendar(4102444799LL - 86400);
  EXPECT_TRUE(last.year == 2099 || last.year == 2100) << last.year;
  EXPECT_EQ(before.day % 31 + 1, last.day) << before.day << " " << last.day;
  EXPECT_EQ(before.hour, last.hour);
  EXPECT_EQ(before.minute, last.minute);
  EXPECT_EQ(59, last.second);
}
