// OS-independent pieces of the sockets concept: the test seam for service ports.
#include "platform/internal/sockets_testing.h"

#include <map>

namespace platform {
namespace testing {

namespace {
std::map<std::string, uint16_t>& ports() {
  static std::map<std::string, uint16_t> p;
  return p;
}
}  // namespace

void set_service_port(const std::string& service, uint16_t port) {
  if (port == 0)
    ports().erase(service);
  else
    ports()[service] = static_cast<uint16_t>((port >> 8) | ((port & 0xFF) << 8));
}

void set_service_unknown(const std::string& service) { ports()[service] = 0; }

long service_port_override(const std::string& service) {
  auto it = ports().find(service);
  return it == ports().end() ? -1 : it->second;
}

}  // namespace testing
}  // namespace platform
