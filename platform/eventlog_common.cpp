// OS-independent pieces of the event log: the writer with its test seams in front of the
// system's log.
#include "platform/eventlog.h"

#include <utility>

#include "platform/internal/eventlog_backend.h"
#include "platform/internal/eventlog_testing.h"

namespace platform {
namespace testing {

namespace {
// Never destroyed: events may be written by exit-time destructors.
EventSink& sink() {
  static EventSink* s = new EventSink;
  return *s;
}
}  // namespace

void set_event_sink(EventSink s) { sink() = std::move(s); }
const EventSink& event_sink() { return sink(); }

namespace {
SystemEventCall system_call = nullptr;
}  // namespace

void set_system_event_call(SystemEventCall call) { system_call = call; }
SystemEventCall system_event_call() { return system_call; }

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
