// Reports, error texts, identity, the event log and the network helpers.
#include "env/qkos.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <istream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "env/env.h"
#include "platform/eventlog/eventlog.h"
#include "platform/files/files.h"
#include "platform/identity/identity.h"
#include "platform/messagebox/messagebox.h"
#include "platform/process/process.h"
#include "platform/sockets/sockets.h"
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

// The local host's name, once found, and its address (network byte order).
char host_name_buffer[64];
const char* host_name = nullptr;
uint32_t host_address = 0;

char system_error_buffer[512];

// The user's name: the override (up to 21 characters) and one result buffer per variant.
const size_t kUserNameBytes = 21;
char user_name_override[kUserNameBytes + 1];
char user_name_buffers[3][kUserNameBytes];

// Other modules may call in during static initialisation or exit, before or after this
// module's own objects live: text buffers are built on first use and never destroyed.
std::string& lasting_text(int which) {
  static std::string* texts = new std::string[3];
  return texts[which];
}
std::string& command_buffer() { return lasting_text(0); }
std::string& os_name() { return lasting_text(1); }
std::string& address_text_buffer() { return lasting_text(2); }

const size_t kCommandMax = 999;

const int kRemoteAttempts = 5;
const unsigned kRetryDelayMs = 100;
const int kNoDataError = 11004;  // WSANO_DATA
const int kTimedOut = 10060;     // WSAETIMEDOUT
// Every attempt ends in bounded time: a server that does not answer the connection, and
// a reply that stops for longer than the second bound (a remote command may run silent
// for a while; five minutes, as long as the shared-memory creation lock is waited for).
const unsigned kConnectTimeoutMs = 10000;
const unsigned kReplySilenceMs = 300000;

std::string format_int(const char* pattern, long long n) {
  char buf[128];
  snprintf(buf, sizeof buf, pattern, n);
  return buf;
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

bool is_name_char(char c) { return isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// At command[i] == '$': appends the value of $NAME or ${NAME} (nothing when unset) or a
// plain "$" when no name follows; returns the index after what was used.
size_t expand_reference(const std::string& command, size_t i, std::string& word) {
  size_t start = i + 1;
  if (start < command.size() && command[start] == '{') {
    size_t close = command.find('}', start + 1);
    std::string name =
        close == std::string::npos ? std::string() : command.substr(start + 1, close - start - 1);
    bool valid = !name.empty();
    for (char c : name) valid = valid && is_name_char(c);
    if (valid) {
      if (const char* v = env_lookup(name.c_str(), 0)) word += v;
      return close + 1;
    }
  } else {
    size_t end = start;
    while (end < command.size() && is_name_char(command[end])) ++end;
    if (end > start) {
      if (const char* v = env_lookup(command.substr(start, end - start).c_str(), 0)) word += v;
      return end;
    }
  }
  word.push_back('$');
  return i + 1;
}

// The command's words as a shell splits them.
std::vector<std::string> shell_words(const std::string& command) {
  std::vector<std::string> words;
  std::string word;
  size_t i = 0;
  const size_t n = command.size();
  while (i < n) {
    const char c = command[i];
    if (c == ' ' || c == '\t' || c == '\n') {
      if (!word.empty()) words.push_back(word);
      word.clear();
      ++i;
    } else if (c == '\'') {
      size_t close = command.find('\'', i + 1);
      if (close == std::string::npos) close = n;
      word += command.substr(i + 1, close - i - 1);
      i = close + 1;
    } else if (c == '"') {
      ++i;
      while (i < n && command[i] != '"') {
        const char d = command[i];
        if (d == '\\' && i + 1 < n && strchr("\n\"\\$", command[i + 1])) {
          word.push_back(command[i + 1]);
          i += 2;
        } else if (d == '$') {
          i = expand_reference(command, i, word);
        } else {
          word.push_back(d);
          ++i;
        }
      }
      ++i;  // the closing quote
    } else if (c == '\\' && i + 1 < n) {
      if (command[i + 1] != '\n') word.push_back(command[i + 1]);
      i += 2;
    } else if (c == '$') {
      i = expand_reference(command, i, word);
    } else {
      word.push_back(c);
      ++i;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// One exchange with the remote-shell service at server_address: 0, or what went wrong.
// sent tells whether the command reached the server (it is then never sent again). A
// socket that the attempt closed itself becomes kNoSocket.
int remote_attempt(platform::Socket& sock, uint32_t server_address, const std::string& user,
                   const char* command, std::istream& input, std::ostream& out, bool& sent) {
  sent = false;
  uint16_t port = 0;
  if (!platform::service_port("shell", "tcp", port)) return platform::last_socket_error();
  std::string local;
  uint32_t local_address = 0;
  if (platform::host_name(local)) platform::host_address(local.c_str(), local_address);
  if (platform::bind_socket(sock, local_address, port) != 0) {
    report_message(format_int("socket bind failed %lld", platform::last_socket_error()).c_str(),
                   REPORT_WARNING, 0);
    return -1;
  }
  if (platform::connect_socket_within(sock, server_address, port, kConnectTimeoutMs) != 0) return 1;
  // With the server's address our own and nothing listening on the port, the socket
  // bound to that port connects to itself: nobody is there, as when refused.
  // Reset, so that the next attempt can bind the port again.
  if (platform::connected_to_itself(sock)) {
    platform::abort_socket(sock);
    sock = platform::kNoSocket;
    return 1;
  }
  platform::set_socket_timeouts(sock, kReplySilenceMs);
  // No separate error channel ("0"), the local and the remote user, the command: each
  // with its terminating zero byte.
  const std::string fields[] = {"0", user, user, command};
  for (const std::string& f : fields)
    if (send_all(sock, f.c_str(), static_cast<int>(f.size() + 1)) != 0) return 1;
  sent = true;
  for (int c; (c = input.get()) != EOF;) {
    const char byte = static_cast<char>(c);
    if (send_all(sock, &byte, 1) != 0) return 1;
  }
  char c;
  int received;
  while ((received = platform::receive_bytes(sock, &c, 1)) == 1)
    if (c != 0) out.put(c);
  // A reply that stopped for too long is no complete reply.
  if (received < 0 && platform::last_socket_error() == kTimedOut) return kTimedOut;
  return 0;
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

const char* quote_where_words(const char* command) {
  command_buffer().clear();
  for (const std::string& w : shell_words(command ? command : "")) {
    if (w.compare(0, 5, "WHERE") == 0)
      command_buffer() += "\"" + w + "\"";
    else
      command_buffer() += w;
    command_buffer().push_back(' ');
  }
  if (command_buffer().size() > kCommandMax) command_buffer().resize(kCommandMax);
  return command_buffer().c_str();
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

uint32_t local_host_address() {
  if (host_address) return host_address;
  const char* name = local_host_name();
  if (!name || !name[0]) {
    report_message("gethostname failed", REPORT_WARNING, 0);
    return 0;
  }
  uint32_t address = 0;
  if (!platform::host_address(name, address)) {
    std::string message = std::string("gethostBYname failed wsa error =") +
                          error_text(platform::last_socket_error());
    report_message(message.c_str(), REPORT_WARNING, 0);
    return 0;
  }
  host_address = address;
  return host_address;
}

QkSocketAddress make_address(uint16_t port, const char* host) {
  QkSocketAddress a;
  memset(&a, 0, sizeof a);
  a.family = 2;  // AF_INET
  const unsigned char bytes[2] = {static_cast<unsigned char>(port >> 8),
                                  static_cast<unsigned char>(port & 0xFF)};
  memcpy(&a.port, bytes, 2);
  uint32_t address = 0;
  if (host && platform::host_address(host, address)) a.address = address;
  return a;
}

int remote_command(const char* command, std::ostream& out) {
  const char* server = server_name();
  if (!server) report_message("No \"QK_SERVER_NAME\" variable in environment", REPORT_FATAL, 0);
  const char* user = user_name();
  if (!user || !user[0])
    report_message("No \"QK_USER\" variable in environment", REPORT_FATAL, 0);
  const std::string server_copy = server, user_copy = user;
  // A server name that does not resolve will not resolve a moment later: the connection
  // fails at once, and nothing connects to the unspecified address 0.0.0.0 instead.
  uint32_t server_address = 0;
  if (!platform::host_address(server_copy.c_str(), server_address)) {
    std::string message = std::string("gethostBYname failed wsa error =") +
                          error_text(platform::last_socket_error());
    report_message(message.c_str(), REPORT_WARNING, 0);
    return 1;
  }
  std::istringstream no_input;
  int result = 0;
  for (int attempt = 1; attempt <= kRemoteAttempts; ++attempt) {
    platform::Socket sock = platform::open_tcp_socket();
    if (sock == platform::kNoSocket) return errno;
    no_input.clear();
    bool sent = false;
    result = remote_attempt(sock, server_address, user_copy, command ? command : "", no_input,
                            out, sent);
    // Closed after every attempt: the next one binds the same port again.
    platform::close_socket(sock);
    if (result == kNoDataError) {
      std::string message =
          std::string("Perhaps you're missing ") + platform::services_file() + "...";
      report_message(message.c_str(), REPORT_FATAL, 0);
    }
    if (result <= 0 || sent) return result;
    if (attempt < kRemoteAttempts) platform::sleep_ms(kRetryDelayMs);
  }
  return result;
}

int send_all(intptr_t sock, const char* bytes, int count) {
  while (count > 0) {
    int sent = platform::send_bytes(sock, bytes, count);
    if (sent <= 0) return 1;
    bytes += sent;
    count -= sent;
  }
  return 0;
}

int receive_byte(intptr_t sock) {
  char c;
  return platform::receive_bytes(sock, &c, 1) == 1 ? static_cast<unsigned char>(c) : -1;
}

void split_words(const char* text, char** words) {
  if (!text || !words) return;
  const char* p = text;
  for (;;) {
    while (*p == ' ') ++p;
    const char* end = p;
    while (*end && *end != ' ') ++end;
    const size_t len = static_cast<size_t>(end - p);
    char* word = new char[len + 1];
    memcpy(word, p, len);
    word[len] = '\0';
    *words++ = word;
    if (!*end) break;
    p = end + 1;
  }
}

long parse_decimal(const char* text) {
  if (!text) return 0;
  while (*text == ' ' || *text == '\t') ++text;
  // Read without a sign, so that too many digits wrap instead of overflowing.
  unsigned long n = 0;
  for (; *text >= '0' && *text <= '9'; ++text) n = n * 10 + static_cast<unsigned long>(*text - '0');
  return static_cast<long>(n);
}

const char* address_to_text(uint32_t address) {
  address_text_buffer() = platform::address_text(address);
  return address_text_buffer().c_str();
}

uint32_t text_to_address(const char* text) { return platform::address_from_text(text); }

int get_host_name(char* name, int size) {
  std::string h;
  if (!name || size <= 0 || !platform::host_name(h) || h.size() + 1 > static_cast<size_t>(size))
    return -1;
  memcpy(name, h.c_str(), h.size() + 1);
  return 0;
}
