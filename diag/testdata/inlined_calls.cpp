// A call chain whose middle function is always inlined: its frame exists only in the
// symbol data of its caller's code.
#include "diag/testdata/trace_helpers.h"

__attribute__((noinline)) std::string inlined_leaf(std::string (*callback)()) {
  std::string text = callback();
  return text;
}

__attribute__((always_inline)) inline std::string inlined_middle(std::string (*callback)()) {
  std::string text = inlined_leaf(callback);
  text += "";
  return text;
}

__attribute__((noinline)) std::string inlined_outer(std::string (*callback)()) {
  std::string text = inlined_middle(callback);
  return text;
}
