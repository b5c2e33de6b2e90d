// POSIX backend of the clock: clock_gettime and localtime_r. The time zone and the
// daylight flag come from localtime, as _ftime reports them: minutes west of UTC at
// standard time, and tm_isdst.
#include "platform/clock/clock.h"

#include <time.h>

namespace platform {

namespace {

// Every record converts the clock to local time, often several times within one second;
// the conversion of the last second asked for is kept (one per thread).
bool local_time_of(time_t t, struct tm* out) {
  thread_local time_t cached_second = static_cast<time_t>(-1);
  thread_local struct tm cached;
  thread_local bool cached_ok = false;
  if (t != cached_second) {
    cached_ok = localtime_r(&t, &cached) != nullptr;
    cached_second = t;
  }
  if (cached_ok) *out = cached;
  return cached_ok;
}

}  // namespace

ClockReading clock_now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  ClockReading r;
  r.seconds = static_cast<long long>(ts.tv_sec);
  r.milliseconds = static_cast<int>(ts.tv_nsec / 1000000);
  time_t t = ts.tv_sec;
  struct tm local;
  if (local_time_of(t, &local)) {
    r.daylight = local.tm_isdst > 0 ? 1 : 0;
    long east = local.tm_gmtoff - (r.daylight ? 3600 : 0);
    r.timezone_minutes = static_cast<int>(-east / 60);
  }
  return r;
}

CalendarTime local_calendar(long long seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm local;
  CalendarTime c;
  if (!local_time_of(t, &local)) return c;
  c.year = local.tm_year + 1900;
  c.month = local.tm_mon + 1;
  c.day = local.tm_mday;
  c.hour = local.tm_hour;
  c.minute = local.tm_min;
  c.second = local.tm_sec;
  return c;
}

}  // namespace platform
