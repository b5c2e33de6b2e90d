// Reports, error texts, identity, the event log and the system wrappers. The other services
// of env/qkos.h: command words in qkos_words.cpp, the network helpers in qkos_net.cpp, the
// remote-shell client in qkos_shell.cpp, the signals in signal.cpp.
#include "env/qkos.h"

#include <stdio.h>
#include <string.h>

#include <ostream>
#include <string>

#include "env/env.h"
#include "platform/eventlog/eventlog.h"
#include "platform/files/files.h"
#include "platform/identity/identity.h"
#include "platform/messagebox/messagebox.h"
#include "platform/process/process.h"
#include "platform/syserror/syserror.h"

namespace {

const int kFatalExitCode = 999;

// The Windows Sockets error names, ending with the end row.
struct SocketErrorName {
  unsigned long code;
  const char* name;
};

const SocketErrorName kSocketErrors[] = {
    {10000, "WSABASEERR"},         {10004, "WSAEINTR"},
    {10009, "WSAEBADF"},           {10013, "WSAEACCES"},
    {10014, "WSAEFAULT"},          {10022, "WSAEINVAL"},
    {10024, "WSAEMFILE"},          {10035, "WSAEWOULDBLOCK"},
    {10036, "WSAEINPROGRESS"},     {10037, "WSAEALREADY"},
    {10038, "WSAENOTSOCK"},        {10039, "WSAEDESTADDRREQ"},
    {10040, "WSAEMSGSIZE"},        {10041, "WSAEPROTOTYPE"},
    {10042, "WSAENOPROTOOPT"},     {10043, "WSAEPROTONOSUPPORT"},
    {10044, "WSAESOCKTNOSUPPORT"}, {10045, "WSAEOPNOTSUPP"},
    {10046, "WSAEPFNOSUPPORT"},    {10047, "WSAEAFNOSUPPORT"},
    {10048, "WSAEADDRINUSE"},      {10049, "WSAEADDRNOTAVAIL"},
    {10050, "WSAENETDOWN"},        {10051, "WSAENETUNREACH"},
    {10052, "WSAENETRESET"},       {10053, "WSAECONNABORTED"},
    {10054, "WSAECONNRESET"},      {10055, "WSAENOBUFS"},
    {10056, "WSAEISCONN"},         {10057, "WSAENOTCONN"},
    {10058, "WSAESHUTDOWN"},       {10059, "WSAETOOMANYREFS"},
    {10060, "WSAETIMEDOUT"},       {10061, "WSAECONNREFUSED"},
    {10062, "WSAELOOP"},           {10063, "WSAENAMETOOLONG"},
    {10064, "WSAEHOSTDOWN"},       {10065, "WSAEHOSTUNREACH"},
    {10066, "WSAENOTEMPTY"},       {10067, "WSAEPROCLIM"},
    {10068, "WSAEUSERS"},          {10069, "WSAEDQUOT"},
    {10070, "WSAESTALE"},          {10071, "WSAEREMOTE"},
    {10091, "WSASYSNOTREADY"},     {10092, "WSAVERNOTSUPPORTED"},
    {10093, "WSANOTINITIALISED"},  {11001, "WSAHOST_NOT_FOUND"},
    {11002, "WSATRY_AGAIN"},       {11003, "WSANO_RECOVERY"},
    {11004, "WSANO_DATA"},         {0xFFFFFFFFUL, nullptr},
};

char error_text_buffer[280];  // a text under 240 characters, " (" and the number

char system_error_buffer[512];

// The user's name: the override (up to 21 characters) and one result buffer per variant.
const size_t kUserNameBytes = 21;
char user_name_override[kUserNameBytes + 1];
char user_name_buffers[3][kUserNameBytes];

// Other modules may call in during static initialisation or exit, before or after this
// module's own objects live: the text buffer is built on first use and never destroyed.
std::string& os_name() {
  static std::string* text = new std::string;
  return *text;
}

// The user's name into the variant's buffer (and dest).
const char* fill_user_name(char* buffer, char* dest) {
  std::string name = user_name_override;  // up to 21 characters
  if (name.empty() && !platform::account_user_name(name, kUserNameBytes)) {
    const char* from_env = env_lookup("QK_USER", 0);
    name = from_env ? from_env : "";
  }
  snprintf(buffer, kUserNameBytes, "%s", name.c_str());
  if (dest) memcpy(dest, buffer, strlen(buffer) + 1);
  return buffer;
}

}  // namespace

int report_message(const char* message, int severity, int message_box) {
  const bool fatal = severity == REPORT_FATAL || severity == REPORT_FATAL_ABORT;
  int result;
  if (message_box) {
    result = platform::message_box(fatal ? "Error" : "Warning", message ? message : "empty msg",
                                   fatal ? platform::BoxIcon::error : platform::BoxIcon::warning);
  } else {
    result = fprintf(stderr, "\n%s", message ? message : "empty msg");
    fflush(stderr);
  }
  if (fatal) platform::exit_process_now(kFatalExitCode);
  return result;
}

const char* error_text(int number) {
  // Widened first so that the most negative number has an absolute value too.
  long long n = number < 0 ? -static_cast<long long>(number) : number;
  const char* text = nullptr;
  if (n < platform::c_error_count()) {
    text = platform::c_error_message(static_cast<int>(n));
  } else if (n >= 10000) {
    for (const SocketErrorName* row = kSocketErrors; row->code != 0xFFFFFFFFUL; ++row) {
      if (static_cast<long long>(row->code) == n) {
        text = row->name;
        break;
      }
    }
  }
  if (!text) {
    snprintf(error_text_buffer, sizeof error_text_buffer, "unknown err %lld", n);
  } else if (strlen(text) < 240) {
    snprintf(error_text_buffer, sizeof error_text_buffer, "%s (%lld)", text, n);
  } else {
    return text;
  }
  return error_text_buffer;
}

const char* system_error_text(unsigned long code) {
  snprintf(system_error_buffer, sizeof system_error_buffer, "Unknown Error Code");
  std::string text = platform::system_message(code);
  if (!text.empty()) snprintf(system_error_buffer, sizeof system_error_buffer, "%s", text.c_str());
  return system_error_buffer;
}

const char* user_name(char* dest) {
  const char* name = fill_user_name(user_name_buffers[0], dest);
  return name[0] ? name : nullptr;
}

const char* user_name_text(char* dest) { return fill_user_name(user_name_buffers[1], dest); }

const char* login_name(char* dest) { return fill_user_name(user_name_buffers[2], dest); }

void set_user_name(const char* name) {
  if (name) snprintf(user_name_override, sizeof user_name_override, "%s", name);
}

const char* server_name() { return env_lookup("QK_SERVER_NAME", 0); }

void event_log_report(int level, const char* text, const char* tag) {
  std::string event = std::string("KVO[") + (tag ? tag : "") + "]: " + (text ? text : "");
  platform::EventType type;
  switch (level) {
    case 80: case 90: case 200: case 250:  // INFORMATION, MILESTONE, TRACE, VERBOSE
      type = platform::EventType::information;
      break;
    case 32798: case 32838:  // SIGNIFICANT, WARNING
      type = platform::EventType::warning;
      break;
    default:
      type = platform::EventType::error;
      break;
  }
  platform::event_log_write("ZQ_KVO", type, event);
}

const char* operating_system_name() {
  if (os_name().empty()) os_name() = platform::system_name();
  return os_name().c_str();
}

void qk_sleep(unsigned milliseconds) { platform::sleep_ms(milliseconds); }

int qk_chsize(int fd, long size) { return platform::truncate_fd(fd, size) ? 0 : -1; }

int qk_access(const char* path, int mode) {
  std::string p = path ? path : "";
  if (!p.empty() && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  return platform::access_path(p.c_str(), mode) ? 0 : -1;
}

int spawn_no_wait(const char* command) {
  std::string c = command ? command : "";
  size_t blank = c.find(' ');
  std::string program = c.substr(0, blank);
  std::string rest = blank == std::string::npos ? std::string() : c.substr(blank + 1);
  if (program.empty()) return -1;
  return platform::spawn_no_wait(program, rest);
}

void write_utf8_bom(std::ostream& out) { out.write("\xEF\xBB\xBF", 3); }
