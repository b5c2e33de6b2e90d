// OS-independent pieces of the event log: the test seam.
#include "platform/internal/eventlog_testing.h"

#include <utility>

namespace platform {
namespace testing {

namespace {
EventSink& sink() {
  static EventSink s;
  return s;
}
}  // namespace

void set_event_sink(EventSink s) { sink() = std::move(s); }
const EventSink& event_sink() { return sink(); }

}  // namespace testing
}  // namespace platform
