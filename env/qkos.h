// Operating-system services of the framework: problem reports, error texts, user and host
// identity, the event log, signals, thin wrappers over a few platform calls, and the
// network helpers (host name and address, the remote-shell client).
//
// Texts returned by these functions live in module-level buffers that the next call of
// the same function overwrites: copy them before calling again.
//
//   report_message("Could not open the settings", 0, 0);   // "\nCould not ..." on stderr
//   report_message("No installation", 1, 0);              // does not return: exit 999
#ifndef QK_ENV_QKOS_H
#define QK_ENV_QKOS_H

// Severities of report_message.
enum ReportSeverity : int { REPORT_WARNING = 0, REPORT_FATAL = 1, REPORT_FATAL_ABORT = 2 };

// Reports a problem: in a message box when message_box is non-zero, else as a line feed
// and the text on standard error. Severity 1 or 2 ends the process at once with exit code
// 999. Returns the result of the output call.
int report_message(const char* message, int severity, int message_box);

// "text (number)" for a C library errno value or a Windows Sockets code (negative numbers
// by their absolute value), or "unknown err number".
const char* error_text(int number);

// The local host's name: "QK_LOCAL_HOST", else the computer's name. Fixed on the first call.
const char* local_host_name();

#endif
