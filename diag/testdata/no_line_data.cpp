// A caller built without debugging data: its frame has a function name but no line.
#include "diag/testdata/trace_helpers.h"

__attribute__((noinline)) std::string call_without_line_data(std::string (*callback)()) {
  std::string text = callback();
  return text;
}
