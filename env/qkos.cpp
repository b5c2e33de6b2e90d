// Reports, error texts, identity, the event log and the network helpers.
#include "env/qkos.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "env/env.h"
#include "platform/identity.h"
#include "platform/messagebox.h"
#include "platform/process.h"
#include "platform/syserror.h"

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

// The local host's name, once found.
char host_name_buffer[64];
const char* host_name = nullptr;

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

const char* local_host_name() {
  if (host_name) return host_name;
  const char* configured = env_lookup("QK_LOCAL_HOST", 0);
  std::string name;
  if (configured) {
    name = configured;
  } else {
    platform::computer_name(name, sizeof host_name_buffer);
  }
  snprintf(host_name_buffer, sizeof host_name_buffer, "%s", name.c_str());
  host_name = host_name_buffer;
  return host_name;
}
