// For tests only: events go to the function instead of the system's log while it is set
// (an empty function restores the log).
//
// Threads: a test sets the sinks while no other thread writes events.
#ifndef QK_PLATFORM_INTERNAL_EVENTLOG_TESTING_H
#define QK_PLATFORM_INTERNAL_EVENTLOG_TESTING_H

#include <functional>
#include <string>

#include "platform/eventlog.h"

namespace platform {
namespace testing {

using EventSink = std::function<void(const std::string& source, EventType, const std::string&)>;
void set_event_sink(EventSink sink);
const EventSink& event_sink();

// One level lower: while set, the call takes the place of the system's own log call and
// receives what the system would have: the source, the event's kind as the system names
// it (LOG_INFO, LOG_WARNING or LOG_ERR for syslog; EVENTLOG_INFORMATION_TYPE,
// EVENTLOG_WARNING_TYPE or EVENTLOG_ERROR_TYPE for ReportEventA) and the text. nullptr
// restores the system's call.
using SystemEventCall = void (*)(const std::string& source, int kind, const std::string& text);
void set_system_event_call(SystemEventCall call);
SystemEventCall system_event_call();

}  // namespace testing
}  // namespace platform

#endif
