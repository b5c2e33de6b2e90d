// The network helpers: the local host's name and address, socket addresses, sends and
// receives, address and host-name conversions.
#include "env/qkos_net.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "env/env.h"
#include "env/qkos_report.h"
#include "platform/identity/identity.h"
#include "platform/sockets/sockets.h"

namespace {

// The local host's name, once found, and its address (network byte order).
char host_name_buffer[64];
const char* host_name = nullptr;
uint32_t host_address = 0;

// Other modules may call in during static initialisation or exit, before or after this
// module's own objects live: the text buffer is built on first use and never destroyed.
std::string& address_text_buffer() {
  static std::string* text = new std::string;
  return *text;
}

}  // namespace

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
