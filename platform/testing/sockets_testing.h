// For tests only: a service's port as the test's own server has it (0 forgets the port),
// or a service the system does not know.
//
// Threads: a test sets the ports while no other thread looks services up.
#ifndef QK_PLATFORM_TESTING_SOCKETS_TESTING_H
#define QK_PLATFORM_TESTING_SOCKETS_TESTING_H

#include <stdint.h>

#include <string>

namespace platform {
namespace testing {

void set_service_port(const std::string& service, uint16_t port_in_host_order);
// Makes the service unknown, as a system without its table of services has it.
void set_service_unknown(const std::string& service);

}  // namespace testing
}  // namespace platform

#endif
