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

#include <stdint.h>

#include <iosfwd>

// Severities of report_message.
enum ReportSeverity : int { REPORT_WARNING = 0, REPORT_FATAL = 1, REPORT_FATAL_ABORT = 2 };

// Reports a problem: in a message box when message_box is non-zero, else as a line feed
// and the text on standard error. Severity 1 or 2 ends the process at once with exit code
// 999. Returns the result of the output call.
int report_message(const char* message, int severity, int message_box);

// "text (number)" for a C library errno value or a Windows Sockets code (negative numbers
// by their absolute value), or "unknown err number".
const char* error_text(int number);

// The system's message for a Windows error code (FormatMessageA), or "Unknown Error Code".
const char* system_error_text(unsigned long code);

// The user's name: the name set by set_user_name, else the account's (up to 20
// characters), else "QK_USER". Copied to dest (21 bytes) when given. user_name gives
// nullptr for an empty name; the other two give their (possibly empty) buffer. Each has a
// buffer of its own.
const char* user_name(char* dest = nullptr);
const char* user_name_text(char* dest = nullptr);
const char* login_name(char* dest = nullptr);

// Overrides the user's name with the first 21 characters of name (nullptr: no change).
void set_user_name(const char* name);

// "QK_SERVER_NAME", or nullptr.
const char* server_name();

// Writes "KVO[tag]: text" to the event log of source "ZQ_KVO": an information event for
// INFORMATION, MILESTONE, TRACE and VERBOSE, a warning for SIGNIFICANT and WARNING, an
// error for every other level. Nothing when the source cannot be registered.
void event_log_report(int level, const char* text, const char* tag);

// The command split into words as a shell does (quotes, backslashes, $NAME and ${NAME}
// through env_lookup), each word followed by one space, a word that begins with "WHERE"
// between double quotes. At most 999 characters; overwritten by the next call.
const char* quote_where_words(const char* command);

// The operating system's name in lower case ("windows"; "linux" on Linux).
const char* operating_system_name();

// Thin wrappers over the C library and the platform.
void qk_sleep(unsigned milliseconds);
int qk_chsize(int fd, long size);                 // 0 or -1
int qk_access(const char* path, int mode);        // one trailing "/" or "\" is ignored
int spawn_no_wait(const char* command);           // "program rest": 0, or -1
int signal_raise(int sig);                        // raise() in the own process
int signal_raise_process(int process, int sig);   // the same; the process is ignored
void write_utf8_bom(std::ostream& out);           // the bytes EF BB BF

// Signals: one handler slot per signal number, called through a common dispatcher.
typedef void (*SignalHandler)(int);
// Empties the slot and sets the default action (flag non-zero) or "ignore"; returns the
// slot's former handler.
SignalHandler signal_reset(int sig, int use_default);
// Puts the handler into the slot and the dispatcher on the signal; returns the former
// handler.
SignalHandler signal_catch(int sig, SignalHandler handler);

// Network helpers. Windows Sockets must have been started by the program.

// The local host's name: "QK_LOCAL_HOST", else the computer's name. Fixed on the first call.
const char* local_host_name();

// The local host's first IPv4 address in network byte order; 0 (with a warning) while it
// cannot be found.
uint32_t local_host_address();

// A socket address laid out as the sockets take it: family 2, port and address in network
// byte order, eight zero bytes.
struct QkSocketAddress {
  uint16_t family;
  uint16_t port;
  uint32_t address;
  uint8_t zero[8];
};
// The host's first IPv4 address at the port (network byte order); 0.0.0.0 when the name
// does not resolve.
QkSocketAddress make_address(uint16_t port, const char* host);

// Runs the command on "QK_SERVER_NAME" as user_name through the "shell" service with
// empty input, writing the reply (less its zero bytes) to out. 0, or an error number: 1
// when the server's name does not resolve (at once, with a warning) or the connection is
// refused or fails five times (a socket connected to itself counts as refused); 10060
// when the reply stops for five minutes (the command is never sent twice).
int remote_command(const char* command, std::ostream& out);

// Sends every byte: 0, or 1 when a send fails.
int send_all(intptr_t sock, const char* bytes, int count);
// One byte (0 to 255), or -1 when the connection is closed or fails.
int receive_byte(intptr_t sock);

// Cuts the text at spaces into newly allocated words (free them with delete[]) stored from
// words[0] on; runs of spaces before a word are skipped, spaces at the end give one last,
// empty word. The caller provides enough slots.
void split_words(const char* text, char** words);

// Leading spaces and tabs skipped, then decimal digits up to the first other character.
long parse_decimal(const char* text);

// inet_ntoa, inet_addr and gethostname.
const char* address_to_text(uint32_t address);
uint32_t text_to_address(const char* text);
int get_host_name(char* name, int size);

#endif
