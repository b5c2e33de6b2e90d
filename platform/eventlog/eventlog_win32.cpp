// Windows backend of the event log.
#include <windows.h>

#include "platform/eventlog/eventlog_backend.h"

namespace platform {
namespace internal {

int system_event_kind(EventType type) {
  return type == EventType::information ? EVENTLOG_INFORMATION_TYPE
         : type == EventType::warning   ? EVENTLOG_WARNING_TYPE
                                        : EVENTLOG_ERROR_TYPE;
}

bool system_event_write(const std::string& source, int kind, const std::string& text) {
  HANDLE h = RegisterEventSourceA(nullptr, source.c_str());
  if (!h) return false;
  const char* strings[1] = {text.c_str()};
  ReportEventA(h, static_cast<WORD>(kind), 0, 0, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(h);
  return true;
}

}  // namespace internal
}  // namespace platform
