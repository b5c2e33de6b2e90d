// The remote-shell client.
#include "env/qkos_shell.h"

#include <errno.h>
#include <stdio.h>

#include <istream>
#include <ostream>
#include <sstream>
#include <string>

#include "env/qkos_identity.h"
#include "env/qkos_net.h"
#include "env/qkos_report.h"
#include "platform/process/process.h"
#include "platform/sockets/sockets.h"

namespace {

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
