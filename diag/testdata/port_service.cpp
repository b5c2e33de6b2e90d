// A caller in the source file that ends every trace with "...".
#include "diag/testdata/trace_helpers.h"

__attribute__((noinline)) std::string call_through_port_service(std::string (*callback)()) {
  std::string text = callback();
  return text;
}
