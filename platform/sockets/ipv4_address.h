// An IPv4 socket address from an address and a port, both in network byte order: the same
// for BSD sockets and Windows Sockets, whose sockaddr_in have the same fields.
//
// Threads: a pure function, callable from any thread.
#ifndef QK_PLATFORM_SOCKETS_IPV4_ADDRESS_H
#define QK_PLATFORM_SOCKETS_IPV4_ADDRESS_H

#include <cstdint>
#include <cstring>

namespace platform {
namespace internal {

template <typename SockaddrIn>
SockaddrIn ipv4_address(int family, std::uint32_t address, std::uint16_t port) {
  SockaddrIn sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = static_cast<decltype(sa.sin_family)>(family);
  sa.sin_port = port;
  sa.sin_addr.s_addr = address;
  return sa;
}

}  // namespace internal
}  // namespace platform

#endif
