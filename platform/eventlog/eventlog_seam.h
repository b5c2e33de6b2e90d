// Where events go when a test catches them (platform/testing/eventlog_testing.h sets these):
// the writer looks at the sink, then at the system call, before the system's log.
#ifndef QK_PLATFORM_EVENTLOG_EVENTLOG_SEAM_H
#define QK_PLATFORM_EVENTLOG_EVENTLOG_SEAM_H

#include <functional>
#include <string>

#include "platform/eventlog/eventlog.h"

namespace platform {
namespace testing {

using EventSink = std::function<void(const std::string& source, EventType, const std::string&)>;
// The source, the event's kind as the system names it (LOG_INFO, LOG_WARNING or LOG_ERR for
// syslog; EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE or EVENTLOG_ERROR_TYPE for
// ReportEventA) and the text.
using SystemEventCall = void (*)(const std::string& source, int kind, const std::string& text);

EventSink& event_sink();              // empty: none
SystemEventCall& system_event_call();  // nullptr: the system's

}  // namespace testing
}  // namespace platform

#endif
