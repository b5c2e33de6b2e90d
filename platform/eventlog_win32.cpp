// Windows backend of the event log.
#include "platform/eventlog.h"

#include <windows.h>

#include "platform/internal/eventlog_testing.h"

namespace platform {

bool event_log_write(const std::string& source, EventType type, const std::string& text) {
  if (const testing::EventSink& sink = testing::event_sink()) {
    sink(source, type, text);
    return true;
  }
  WORD kind = type == EventType::information ? EVENTLOG_INFORMATION_TYPE
              : type == EventType::warning   ? EVENTLOG_WARNING_TYPE
                                             : EVENTLOG_ERROR_TYPE;
  if (const testing::SystemEventCall call = testing::system_event_call()) {
    call(source, kind, text);
    return true;
  }
  HANDLE h = RegisterEventSourceA(nullptr, source.c_str());
  if (!h) return false;
  const char* strings[1] = {text.c_str()};
  ReportEventA(h, kind, 0, 0, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(h);
  return true;
}

}  // namespace platform
