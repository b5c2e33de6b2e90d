// For tests only: a service's port as the test's own server has it (0 forgets the port).
#ifndef QK_PLATFORM_INTERNAL_SOCKETS_TESTING_H
#define QK_PLATFORM_INTERNAL_SOCKETS_TESTING_H

#include <stdint.h>

#include <string>

namespace platform {
namespace testing {

void set_service_port(const std::string& service, uint16_t port_in_host_order);
// The port set for the service in network byte order, or 0.
uint16_t service_port_override(const std::string& service);

}  // namespace testing
}  // namespace platform

#endif
