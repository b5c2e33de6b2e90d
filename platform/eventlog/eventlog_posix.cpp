// POSIX backend of the event log: syslog.
#include <syslog.h>

#include "platform/eventlog/eventlog_backend.h"

namespace platform {
namespace internal {

int system_event_kind(EventType type) {
  return type == EventType::information ? LOG_INFO : type == EventType::warning ? LOG_WARNING : LOG_ERR;
}

bool system_event_write(const std::string& source, int kind, const std::string& text) {
  openlog(source.c_str(), LOG_PID, LOG_USER);
  syslog(kind, "%s", text.c_str());
  closelog();
  return true;
}

}  // namespace internal
}  // namespace platform
