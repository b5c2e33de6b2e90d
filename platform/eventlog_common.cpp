// OS-independent pieces of the event log: the test seams.
#include "platform/internal/eventlog_testing.h"

#include <utility>

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
}  // namespace platform
