// Windows backend of the clock: _ftime and localtime of the C runtime, in their 64-bit
// forms (_ftime64, _localtime64): the i686 build's time_t has 32 bits and ends in 2038.
#include "platform/clock/clock.h"

#include <sys/timeb.h>
#include <time.h>

namespace platform {

ClockReading clock_now() {
  struct __timeb64 tb;
  _ftime64(&tb);
  ClockReading r;
  r.seconds = static_cast<long long>(tb.time);
  r.milliseconds = tb.millitm;
  r.timezone_minutes = tb.timezone;
  r.daylight = tb.dstflag ? 1 : 0;
  return r;
}

CalendarTime local_calendar(long long seconds) {
  __time64_t t = static_cast<__time64_t>(seconds);
  CalendarTime c;
  struct tm* local = _localtime64(&t);
  if (!local) return c;
  c.year = local->tm_year + 1900;
  c.month = local->tm_mon + 1;
  c.day = local->tm_mday;
  c.hour = local->tm_hour;
  c.minute = local->tm_min;
  c.second = local->tm_sec;
  return c;
}

}  // namespace platform
