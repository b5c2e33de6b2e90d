// libFuzzer target for the QK.env reader: any bytes as a file, read against a small
// environment of its own (so that references, forced and ordinary assignments all act).
//
//   CC=clang CXX=clang++ cmake -S . -B /tmp/b-fuzz -G Ninja -DQK_FUZZ=ON -DQK_SANITIZE=address,undefined -DQK_TESTS=OFF
//   ninja -C /tmp/b-fuzz qkenv_fuzz && /tmp/b-fuzz/bin/qkenv_fuzz -max_total_time=60
#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>

#include "env/internal/qkenv_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::map<std::string, std::string> env = {{"HOME", "/h"}, {"A", "1"}};
  size_t pos = 0;
  qkenv::Parser parser([&]() -> int { return pos < size ? data[pos++] : -1; },
                       [&](const std::string& name) -> const char* {
                         auto it = env.find(name);
                         return it == env.end() ? nullptr : it->second.c_str();
                       });
  qkenv::Assignment a;
  while (parser.next(a)) {
    // The reader bounds a value (qkenv::kValueMax), so forced lines such as "@A=$A$A"
    // cannot double a value on every line.
    if (a.name.size() > qkenv::kNameMax) __builtin_trap();  // the name bound did not hold
    if (a.token.empty() || a.token[0] == '.' || a.name.empty() || a.too_long) continue;
    const bool forced = a.token[0] == '@';
    const std::string value = qkenv::value_part(a.token);
    if (value.empty()) continue;
    if (value.size() > qkenv::kValueMax) __builtin_trap();  // the bound did not hold
    if (forced || env.find(a.name) == env.end()) {
      const std::string assignment = a.token.substr(forced ? 1 : 0);
      env[assignment.substr(0, assignment.find('='))] = value;
    }
  }
  return 0;
}
