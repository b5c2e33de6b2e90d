// POSIX backend of the event log: syslog.
#include "platform/eventlog.h"

#include <syslog.h>

#include "platform/internal/eventlog_testing.h"

namespace platform {

bool event_log_write(const std::string& source, EventType type, const std::string& text) {
  if (const testing::EventSink& sink = testing::event_sink()) {
    sink(source, type, text);
    return true;
  }
  int priority = type == EventType::information ? LOG_INFO
                 : type == EventType::warning   ? LOG_WARNING
                                                : LOG_ERR;
  if (const testing::SystemEventCall call = testing::system_event_call()) {
    call(source, priority, text);
    return true;
  }
  openlog(source.c_str(), LOG_PID, LOG_USER);
  syslog(priority, "%s", text.c_str());
  closelog();
  return true;
}

}  // namespace platform
