// TCP/IPv4 sockets (Windows Sockets 1.1 calls; BSD sockets on POSIX). Addresses and ports
// are kept in network byte order, as the socket calls take them. Windows Sockets must have
// been started by the program (start_sockets) before any of these is used.
//
// Threads: after start_sockets, every call may come from any thread at once, one socket used by
// one thread at a time; last_socket_error() is the calling thread's.
#ifndef QK_PLATFORM_SOCKETS_SOCKETS_H
#define QK_PLATFORM_SOCKETS_SOCKETS_H

#include <stdint.h>

#include <string>

namespace platform {

using Socket = intptr_t;
const Socket kNoSocket = -1;

// WSAStartup for version 1.1 (nothing on POSIX); true when sockets may be used.
bool start_sockets();

// The last socket error as a Windows Sockets code (WSAGetLastError; on POSIX the errno
// value mapped to the matching code, 10061 for ECONNREFUSED).
int last_socket_error();

// socket(AF_INET, SOCK_STREAM, 0).
Socket open_tcp_socket();
void close_socket(Socket s);
// Closes a connected socket with a reset (SO_LINGER of 0), so that its address and port
// are free again at once rather than held in TIME_WAIT.
void abort_socket(Socket s);

// bind, connect: 0 on success, else -1 (last_socket_error tells why).
int bind_socket(Socket s, uint32_t address, uint16_t port);
int connect_socket(Socket s, uint32_t address, uint16_t port);

// connect that gives up after timeout_ms: 0, or -1 (last_socket_error 10060,
// WSAETIMEDOUT, when the time ran out).
int connect_socket_within(Socket s, uint32_t address, uint16_t port, unsigned timeout_ms);

// True for a connected socket whose peer is itself: a client bound to the port it
// connects to, on its own address, with nothing listening there, is connected to itself
// (a TCP simultaneous open) and would wait for its own reply.
bool connected_to_itself(Socket s);

// Bounds every later send and receive: one that waits longer than timeout_ms fails
// (last_socket_error 10060, WSAETIMEDOUT). False when the system refuses.
bool set_socket_timeouts(Socket s, unsigned timeout_ms);

// The server's side, for programs that answer (and for tests): listen, accept, and the
// port that bind chose (getsockname). listen_socket gives 0 or -1.
int listen_socket(Socket s, int backlog);
Socket accept_socket(Socket s);
bool socket_port(Socket s, uint16_t& port);

// send and recv: the call's result (bytes moved, 0 when the peer closed, -1 on failure).
int send_bytes(Socket s, const char* bytes, int count);
int receive_bytes(Socket s, char* bytes, int count);

// getservbyname: the service's port; false when the service is not known.
bool service_port(const char* service, const char* protocol, uint16_t& port);

// gethostbyname: the host's first IPv4 address; false when it has none.
bool host_address(const char* host, uint32_t& address);

// gethostname: false when the system gives none.
bool host_name(std::string& name);

// inet_ntoa and inet_addr (0xFFFFFFFF, INADDR_NONE, for a text that is no address).
std::string address_text(uint32_t address);
uint32_t address_from_text(const char* text);

// Where the system keeps its table of services, for messages.
const char* services_file();

}  // namespace platform

#endif
