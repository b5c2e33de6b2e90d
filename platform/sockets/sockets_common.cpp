// OS-independent pieces of the sockets concept: the service ports a test may give.
#include "platform/sockets/sockets_seam.h"

namespace platform {
namespace testing {

std::map<std::string, uint16_t>& service_ports() {
  static std::map<std::string, uint16_t>* p = new std::map<std::string, uint16_t>;
  return *p;
}

long service_port_override(const std::string& service) {
  auto it = service_ports().find(service);
  return it == service_ports().end() ? -1 : it->second;
}

}  // namespace testing
}  // namespace platform
