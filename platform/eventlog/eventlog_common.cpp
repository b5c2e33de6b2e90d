// OS-independent pieces of the event log: the writer, with the places a test may catch
// events in front of the system's log.
#include "platform/eventlog/eventlog.h"

#include "platform/eventlog/eventlog_backend.h"
#include "platform/eventlog/eventlog_seam.h"

namespace platform {
namespace testing {

// Never destroyed: events may be written by exit-time destructors.
EventSink& event_sink() {
  static EventSink* s = new EventSink;
  return *s;
}

SystemEventCall& system_event_call() {
  static SystemEventCall call = nullptr;
  return call;
}

}  // namespace testing

bool event_log_write(const std::string& source, EventType type, const std::string& text) {
  if (const testing::EventSink& sink = testing::event_sink()) {
    sink(source, type, text);
    return true;
  }
  const int kind = internal::system_event_kind(type);
  if (const testing::SystemEventCall call = testing::system_event_call()) {
    call(source, kind, text);
    return true;
  }
  return internal::system_event_write(source, kind, text);
}

}  // namespace platform
