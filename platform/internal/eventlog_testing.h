// For tests only: events go to the function instead of the system's log while it is set
// (an empty function restores the log).
#ifndef QK_PLATFORM_INTERNAL_EVENTLOG_TESTING_H
#define QK_PLATFORM_INTERNAL_EVENTLOG_TESTING_H

#include <functional>
#include <string>

#include "platform/eventlog.h"

namespace platform {
namespace testing {

using EventSink = std::function<void(const std::string& source, EventType, const std::string&)>;
void set_event_sink(EventSink sink);
const EventSink& event_sink();

}  // namespace testing
}  // namespace platform

#endif
