// Network helpers: the local host's name and address, socket addresses, whole sends and
// single-byte receives, and the address and host-name conversions. Windows Sockets must
// have been started by the program. Part of the operating-system services of env/qkos.h.
//
//   QkSocketAddress a = make_address(514, "loghost");   // 0.0.0.0 when it does not resolve
//   std::cout << address_to_text(local_host_address());
#ifndef QK_ENV_QKOS_NET_H
#define QK_ENV_QKOS_NET_H

#include <stdint.h>

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

// Sends every byte: 0, or 1 when a send fails.
int send_all(intptr_t sock, const char* bytes, int count);
// One byte (0 to 255), or -1 when the connection is closed or fails.
int receive_byte(intptr_t sock);

// inet_ntoa, inet_addr and gethostname. address_to_text's text is overwritten by its next
// call.
const char* address_to_text(uint32_t address);
uint32_t text_to_address(const char* text);
int get_host_name(char* name, int size);

#endif
