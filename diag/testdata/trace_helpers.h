// Callers in source files that the stack-trace engine treats specially.
#ifndef QK_DIAG_TESTDATA_TRACE_HELPERS_H
#define QK_DIAG_TESTDATA_TRACE_HELPERS_H

#include <string>

std::string call_through_stacktrace_file(std::string (*callback)());
std::string call_through_port_service(std::string (*callback)());
std::string call_without_line_data(std::string (*callback)());

#endif
