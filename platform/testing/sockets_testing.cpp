#include "platform/testing/sockets_testing.h"

#include "platform/sockets/sockets_seam.h"

namespace platform {
namespace testing {

void set_service_port(const std::string& service, uint16_t port) {
  if (port == 0)
    service_ports().erase(service);
  else
    service_ports()[service] = static_cast<uint16_t>((port >> 8) | ((port & 0xFF) << 8));
}

void set_service_unknown(const std::string& service) { service_ports()[service] = 0; }

}  // namespace testing
}  // namespace platform
