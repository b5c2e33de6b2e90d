// For tests only: events go to the function instead of the system's log while it is set
// (an empty function restores the log). One level lower, the system call: while set, it
// takes the place of the system's own log call and receives what the system would have
// (platform/eventlog/eventlog_seam.h); nullptr restores the system's call.
//
// Threads: a test sets the sinks while no other thread writes events.
#ifndef QK_PLATFORM_TESTING_EVENTLOG_TESTING_H
#define QK_PLATFORM_TESTING_EVENTLOG_TESTING_H

#include "platform/eventlog/eventlog_seam.h"

namespace platform {
namespace testing {

void set_event_sink(EventSink sink);
void set_system_event_call(SystemEventCall call);

}  // namespace testing
}  // namespace platform

#endif
