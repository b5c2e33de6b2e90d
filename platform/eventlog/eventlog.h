// The system's event log (syslog on POSIX).
//
// Threads: events may be written from any thread at once.
#ifndef QK_PLATFORM_EVENTLOG_EVENTLOG_H
#define QK_PLATFORM_EVENTLOG_EVENTLOG_H

#include <string>

namespace platform {

enum class EventType { information, warning, error };

// Writes one event of the source (RegisterEventSourceA on the local computer, ReportEventA
// with category 0, identifier 0, no user, the text as its one string and no data,
// DeregisterEventSource; on POSIX syslog with the source as its identity and LOG_INFO,
// LOG_WARNING or LOG_ERR). False when the source could not be registered.
bool event_log_write(const std::string& source, EventType type, const std::string& text);

}  // namespace platform

#endif
