// The system's event log, as the framework writes to it. Part of the operating-system
// services of env/qkos.h.
//
//   event_log_report(WARNING, "disk nearly full", "monitor");  // "KVO[monitor]: disk ..."
#ifndef QK_ENV_QKOS_EVENTLOG_H
#define QK_ENV_QKOS_EVENTLOG_H

// Writes "KVO[tag]: text" to the event log of source "ZQ_KVO": an information event for
// INFORMATION, MILESTONE, TRACE and VERBOSE, a warning for SIGNIFICANT and WARNING, an
// error for every other level. Nothing when the source cannot be registered.
void event_log_report(int level, const char* text, const char* tag);

#endif
