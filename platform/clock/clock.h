// The wall clock as the logger reads it: seconds and milliseconds since 1970 with the time
// zone as the C runtime's _ftime gives it, and local calendar time.
//
// Threads: every call may come from any thread at once (the local time is worked out per thread).
#ifndef QK_PLATFORM_CLOCK_CLOCK_H
#define QK_PLATFORM_CLOCK_CLOCK_H

namespace platform {

struct ClockReading {
  long long seconds = 0;     // since 1970-01-01 UTC
  int milliseconds = 0;      // 0 to 999
  int timezone_minutes = 0;  // minutes west of UTC at standard time
  int daylight = 0;          // 1 when daylight-saving time is in effect
};

ClockReading clock_now();

struct CalendarTime {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;    // 1 to 31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The seconds since 1970 as local time.
CalendarTime local_calendar(long long seconds);

}  // namespace platform

#endif
