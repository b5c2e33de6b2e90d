#include "platform/testing/eventlog_testing.h"

#include <utility>

namespace platform {
namespace testing {

void set_event_sink(EventSink sink) { event_sink() = std::move(sink); }
void set_system_event_call(SystemEventCall call) { system_event_call() = call; }

}  // namespace testing
}  // namespace platform
