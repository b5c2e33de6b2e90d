// A caller whose frames every trace leaves out: its file name begins with "stacktrace".
#include "diag/testdata/trace_helpers.h"

__attribute__((noinline)) std::string call_through_stacktrace_file(std::string (*callback)()) {
  std::string text = callback();
  return text;
}

__attribute__((noinline)) std::string call_deep_in_stacktrace_file(int depth, std::string (*callback)()) {
  std::string text = depth <= 1 ? callback() : call_deep_in_stacktrace_file(depth - 1, callback);
  text += "";  // keeps the call a call
  return text;
}
