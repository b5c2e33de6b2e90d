// The service ports a test has given (platform/testing/sockets_testing.h), looked at before
// the system's services.
#ifndef QK_PLATFORM_SOCKETS_SOCKETS_SEAM_H
#define QK_PLATFORM_SOCKETS_SOCKETS_SEAM_H

#include <stdint.h>

#include <map>
#include <string>

namespace platform {
namespace testing {

// Each service's port in network order; 0 for a service the system must not know.
std::map<std::string, uint16_t>& service_ports();
// The port given for the service (network order, 0 when it is to be unknown), or -1 when
// none is given.
long service_port_override(const std::string& service);

}  // namespace testing
}  // namespace platform

#endif
