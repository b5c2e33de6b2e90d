// Callers in source files that the stack-trace engine treats specially.
#ifndef QK_DIAG_TESTDATA_TRACE_HELPERS_H
#define QK_DIAG_TESTDATA_TRACE_HELPERS_H

#include <string>

std::string call_through_stacktrace_file(std::string (*callback)());
std::string call_through_port_service(std::string (*callback)());
std::string call_without_line_data(std::string (*callback)());
// The callback below depth frames of call_through_stacktrace_file's own file.
std::string call_deep_in_stacktrace_file(int depth, std::string (*callback)());
// inlined_outer calls inlined_middle, always inlined, which calls inlined_leaf, which
// calls the callback.
std::string inlined_outer(std::string (*callback)());

#endif
