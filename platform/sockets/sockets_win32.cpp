// Windows backend of the sockets concept: Windows Sockets 1.1.
#include "platform/sockets/sockets.h"

#include <winsock2.h>

#include <string.h>

#include "platform/sockets/ipv4_address.h"
#include "platform/sockets/sockets_seam.h"

namespace platform {

namespace {

sockaddr_in make_sockaddr(uint32_t address, uint16_t port) {
  return internal::ipv4_address<sockaddr_in>(AF_INET, address, port);
}

}  // namespace

bool start_sockets() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

int last_socket_error() { return WSAGetLastError(); }

Socket open_tcp_socket() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s);
}

void close_socket(Socket s) {
  if (s != kNoSocket) closesocket(static_cast<SOCKET>(s));
}

void abort_socket(Socket s) {
  if (s == kNoSocket) return;
  linger now;
  now.l_onoff = 1;
  now.l_linger = 0;
  setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now),
             sizeof now);
  closesocket(static_cast<SOCKET>(s));
}

int bind_socket(Socket s, uint32_t address, uint16_t port) {
  sockaddr_in sa = make_sockaddr(address, port);
  return bind(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0 : -1;
}

int connect_socket(Socket s, uint32_t address, uint16_t port) {
  sockaddr_in sa = make_sockaddr(address, port);
  return connect(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0
                                                                                          : -1;
}

int connect_socket_within(Socket s, uint32_t address, uint16_t port, unsigned timeout_ms) {
  const SOCKET sock = static_cast<SOCKET>(s);
  u_long non_blocking = 1;
  if (ioctlsocket(sock, FIONBIO, &non_blocking) != 0) return -1;
  sockaddr_in sa = make_sockaddr(address, port);
  int error = 0;
  if (connect(sock, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(sock, &writable);
      FD_SET(sock, &failed);
      timeval tv;
      tv.tv_sec = static_cast<long>(timeout_ms / 1000);
      tv.tv_usec = static_cast<long>((timeout_ms % 1000) * 1000);
      const int ready = select(0, nullptr, &writable, &failed, &tv);
      if (ready == 0) {
        error = WSAETIMEDOUT;
      } else if (ready < 0) {
        error = WSAGetLastError();
      } else if (FD_ISSET(sock, &failed)) {
        int len = sizeof error;
        if (getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 ||
            error == 0)
          error = WSAECONNREFUSED;
      } else {
        error = 0;
      }
    }
  }
  u_long blocking = 0;
  ioctlsocket(sock, FIONBIO, &blocking);
  if (error == 0) return 0;
  WSASetLastError(error);
  return -1;
}

bool connected_to_itself(Socket s) {
  sockaddr_in self, peer;
  int self_len = sizeof self, peer_len = sizeof peer;
  if (getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&self), &self_len) != 0 ||
      getpeername(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0)
    return false;
  return self.sin_addr.s_addr == peer.sin_addr.s_addr && self.sin_port == peer.sin_port;
}

bool set_socket_timeouts(Socket s, unsigned timeout_ms) {
  const DWORD ms = timeout_ms;
  const char* value = reinterpret_cast<const char*>(&ms);
  return setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_RCVTIMEO, value, sizeof ms) == 0 &&
         setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_SNDTIMEO, value, sizeof ms) == 0;
}

int listen_socket(Socket s, int backlog) {
  return listen(static_cast<SOCKET>(s), backlog) == 0 ? 0 : -1;
}

Socket accept_socket(Socket s) {
  SOCKET c = accept(static_cast<SOCKET>(s), nullptr, nullptr);
  return c == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(c);
}

bool socket_port(Socket s, uint16_t& port) {
  sockaddr_in sa;
  int len = sizeof sa;
  if (getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    return false;
  port = sa.sin_port;
  return true;
}

int send_bytes(Socket s, const char* bytes, int count) {
  return send(static_cast<SOCKET>(s), bytes, count, 0);
}

int receive_bytes(Socket s, char* bytes, int count) {
  return recv(static_cast<SOCKET>(s), bytes, count, 0);
}

bool service_port(const char* service, const char* protocol, uint16_t& port) {
  const long over = testing::service_port_override(service ? service : "");
  if (over > 0) {
    port = static_cast<uint16_t>(over);
    return true;
  }
  if (over == 0) {
    WSASetLastError(WSANO_DATA);
    return false;
  }
  servent* se = getservbyname(service, protocol);
  if (!se) return false;
  port = static_cast<uint16_t>(se->s_port);
  return true;
}

bool host_address(const char* host, uint32_t& address) {
  hostent* he = host ? gethostbyname(host) : nullptr;
  if (!he || he->h_addrtype != AF_INET || he->h_length != 4 || !he->h_addr_list[0])
    return false;
  memcpy(&address, he->h_addr_list[0], 4);
  return true;
}

bool host_name(std::string& name) {
  char buf[256] = {0};
  if (gethostname(buf, sizeof buf - 1) != 0) return false;
  name = buf;
  return !name.empty();
}

std::string address_text(uint32_t address) {
  in_addr a;
  a.s_addr = address;
  const char* text = inet_ntoa(a);
  return text ? std::string(text) : std::string();
}

uint32_t address_from_text(const char* text) { return text ? inet_addr(text) : INADDR_NONE; }

const char* services_file() { return "C:\\etc\\services"; }

}  // namespace platform
