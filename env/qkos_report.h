// Problem reports and error texts: a message on standard error or in a message box (a
// fatal one ends the process), and the texts of C library, Windows Sockets and Windows
// error numbers. Part of the operating-system services of env/qkos.h.
//
//   report_message("Could not open the settings", 0, 0);   // "\nCould not ..." on stderr
//   report_message("No installation", 1, 0);              // does not return: exit 999
//   std::cerr << error_text(errno);                       // "No such file ... (2)"
#ifndef QK_ENV_QKOS_REPORT_H
#define QK_ENV_QKOS_REPORT_H

// Severities of report_message.
enum ReportSeverity : int { REPORT_WARNING = 0, REPORT_FATAL = 1, REPORT_FATAL_ABORT = 2 };

// Reports a problem: in a message box when message_box is non-zero, else as a line feed
// and the text on standard error. Severity 1 or 2 ends the process at once with exit code
// 999. Returns the result of the output call.
int report_message(const char* message, int severity, int message_box);

// "text (number)" for a C library errno value or a Windows Sockets code (negative numbers
// by their absolute value), or "unknown err number". Overwritten by the next call.
const char* error_text(int number);

// The system's message for a Windows error code (FormatMessageA), or "Unknown Error Code".
// Overwritten by the next call.
const char* system_error_text(unsigned long code);

#endif
