// POSIX backend of the sockets concept: BSD sockets, errors named by their Windows
// Sockets codes.
#include "platform/sockets/sockets.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "platform/sockets/ipv4_address.h"
#include "platform/sockets/sockets_seam.h"

namespace platform {

namespace {

// The resolver's and the socket calls' failures as Windows Sockets codes, per thread as
// WSAGetLastError keeps them.
thread_local int socket_error = 0;

int code_of_errno(int e) {
  static const struct { int e; int code; } table[] = {
      {EINTR, 10004},        {EBADF, 10009},        {EACCES, 10013},
      {EFAULT, 10014},       {EINVAL, 10022},       {EMFILE, 10024},
      {EWOULDBLOCK, 10035},  {EINPROGRESS, 10036},  {EALREADY, 10037},
      {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},
      {EPROTOTYPE, 10041},   {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
      {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045}, {EPFNOSUPPORT, 10046},
      {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
      {ENETDOWN, 10050},     {ENETUNREACH, 10051},  {ENETRESET, 10052},
      {ECONNABORTED, 10053}, {ECONNRESET, 10054},   {ENOBUFS, 10055},
      {EISCONN, 10056},      {ENOTCONN, 10057},     {ESHUTDOWN, 10058},
      {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},
      {ELOOP, 10062},        {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},
      {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},    {EUSERS, 10068},
      {EDQUOT, 10069},       {ESTALE, 10070},       {EREMOTE, 10071},
  };
  for (const auto& row : table)
    if (row.e == e) return row.code;
  return e;
}

int fail_with_errno() {
  // A send or receive bounded by set_socket_timeouts reports its time-out as EAGAIN.
  socket_error = errno == EAGAIN || errno == EWOULDBLOCK ? 10060 : code_of_errno(errno);
  return -1;
}

sockaddr_in make_sockaddr(uint32_t address, uint16_t port) {
  return internal::ipv4_address<sockaddr_in>(AF_INET, address, port);
}

}  // namespace

bool start_sockets() { return true; }

int last_socket_error() { return socket_error; }

Socket open_tcp_socket() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) fail_with_errno();
  return s < 0 ? kNoSocket : s;
}

void close_socket(Socket s) {
  if (s != kNoSocket) close(static_cast<int>(s));
}

void abort_socket(Socket s) {
  if (s == kNoSocket) return;
  linger now;
  now.l_onoff = 1;
  now.l_linger = 0;
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &now, sizeof now);
  close(static_cast<int>(s));
}

int bind_socket(Socket s, uint32_t address, uint16_t port) {
  sockaddr_in sa = make_sockaddr(address, port);
  return bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0
             ? 0
             : fail_with_errno();
}

int connect_socket(Socket s, uint32_t address, uint16_t port) {
  sockaddr_in sa = make_sockaddr(address, port);
  int rc;
  do {
    rc = connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : fail_with_errno();
}

int connect_socket_within(Socket s, uint32_t address, uint16_t port, unsigned timeout_ms) {
  const int fd = static_cast<int>(s);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return fail_with_errno();
  sockaddr_in sa = make_sockaddr(address, port);
  int rc = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  int error = rc == 0 ? 0 : errno;
  if (rc != 0 && (error == EINPROGRESS || error == EINTR)) {
    pollfd p;
    p.fd = fd;
    p.events = POLLOUT;
    p.revents = 0;
    int ready;
    do {
      ready = poll(&p, 1, static_cast<int>(timeout_ms));
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
      error = ETIMEDOUT;
    } else if (ready < 0) {
      error = errno;
    } else {
      socklen_t len = sizeof error;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
    }
  }
  fcntl(fd, F_SETFL, flags);
  if (error == 0) return 0;
  errno = error;
  return fail_with_errno();
}

bool connected_to_itself(Socket s) {
  sockaddr_in self, peer;
  socklen_t self_len = sizeof self, peer_len = sizeof peer;
  if (getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&self), &self_len) != 0 ||
      getpeername(static_cast<int>(s), reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0)
    return false;
  return self.sin_addr.s_addr == peer.sin_addr.s_addr && self.sin_port == peer.sin_port;
}

bool set_socket_timeouts(Socket s, unsigned timeout_ms) {
  timeval tv;
  tv.tv_sec = static_cast<time_t>(timeout_ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((timeout_ms % 1000) * 1000);
  const int fd = static_cast<int>(s);
  return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
         setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

int listen_socket(Socket s, int backlog) {
  return listen(static_cast<int>(s), backlog) == 0 ? 0 : fail_with_errno();
}

Socket accept_socket(Socket s) {
  int c;
  do {
    c = accept(static_cast<int>(s), nullptr, nullptr);
  } while (c < 0 && errno == EINTR);
  if (c < 0) fail_with_errno();
  return c < 0 ? kNoSocket : c;
}

bool socket_port(Socket s, uint16_t& port) {
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  if (getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
  port = sa.sin_port;
  return true;
}

int send_bytes(Socket s, const char* bytes, int count) {
  ssize_t n;
  do {
    n = send(static_cast<int>(s), bytes, static_cast<size_t>(count), MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return fail_with_errno();
  return static_cast<int>(n);
}

int receive_bytes(Socket s, char* bytes, int count) {
  ssize_t n;
  do {
    n = recv(static_cast<int>(s), bytes, static_cast<size_t>(count), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return fail_with_errno();
  return static_cast<int>(n);
}

bool service_port(const char* service, const char* protocol, uint16_t& port) {
  const long over = testing::service_port_override(service ? service : "");
  if (over > 0) {
    port = static_cast<uint16_t>(over);
    return true;
  }
  // getservbyname's entry is shared by the threads of a process; the _r form fills one of
  // the caller's.
  servent entry;
  char buffer[1024];
  servent* se = nullptr;
  if (over != 0 && getservbyname_r(service, protocol, &entry, buffer, sizeof buffer, &se) != 0)
    se = nullptr;
  if (!se) {
    socket_error = 11004;  // WSANO_DATA: no such service in the table
    return false;
  }
  port = static_cast<uint16_t>(se->s_port);
  return true;
}

bool host_address(const char* host, uint32_t& address) {
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  int rc = host ? getaddrinfo(host, nullptr, &hints, &found) : EAI_NONAME;
  if (rc != 0 || !found) {
    socket_error = rc == EAI_AGAIN ? 11002 : rc == EAI_FAIL ? 11003 : 11001;
    return false;
  }
  address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(found);
  return true;
}

bool host_name(std::string& name) {
  char buf[256] = {0};
  if (gethostname(buf, sizeof buf - 1) != 0) {
    fail_with_errno();
    return false;
  }
  name = buf;
  return !name.empty();
}

std::string address_text(uint32_t address) {
  in_addr a;
  a.s_addr = address;
  char buf[INET_ADDRSTRLEN] = {0};
  return inet_ntop(AF_INET, &a, buf, sizeof buf) ? std::string(buf) : std::string();
}

uint32_t address_from_text(const char* text) { return text ? inet_addr(text) : INADDR_NONE; }

const char* services_file() { return "/etc/services"; }

}  // namespace platform
