// What each event-log backend gives the common writer (eventlog_common.cpp), which puts
// the test seams in front of the system.
//
// Threads: as eventlog.h: events may be written from any thread at once.
#ifndef QK_PLATFORM_EVENTLOG_EVENTLOG_BACKEND_H
#define QK_PLATFORM_EVENTLOG_EVENTLOG_BACKEND_H

#include <string>

#include "platform/eventlog/eventlog.h"

namespace platform {
namespace internal {

// The event's kind as the system names it (syslog's priority, ReportEventA's type).
int system_event_kind(EventType type);
// Writes the event to the system's log; false when the source could not be registered.
bool system_event_write(const std::string& source, int kind, const std::string& text);

}  // namespace internal
}  // namespace platform

#endif
