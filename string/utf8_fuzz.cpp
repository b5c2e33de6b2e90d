// libFuzzer target for the UTF-8 routines: arbitrary bytes (cut at their first NUL) through
// the length routine at every position, counting (checked against the character walk),
// the last character, the four case and order operations, and the one-character
// converter to UTF-16 over the whole text.
//
//   CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DQK_FUZZ=ON -DQK_SANITIZE=address,undefined -DQK_TESTS=OFF
//   ninja -C build/fuzz utf8_fuzz && build/fuzz/bin/utf8_fuzz -max_total_time=60 -close_fd_mask=2
//
// Invalid bytes are logged on standard error (the target logs without an installation
// key), hence -close_fd_mask=2.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/environment/environment.h"
#include "platform/process/process.h"
#include "string/String.h"

namespace {

// Made before the logger starts during static initialisation: its settings load needs an
// installation root and a local folder; without a key its block stays private.
struct FuzzInstallation {
  FuzzInstallation() {
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path() / ("qk_utf8_fuzz_" + std::to_string(platform::process_id()));
    fs::create_directories(base);
    platform::put_env("QK_ROOT=" + base.generic_string());
    platform::put_env("QK_LOCAL=" + base.generic_string());
    platform::put_env("QK_KEY=");
    platform::put_env("QK_LOG_NOKEY=1");
  }
};
__attribute__((init_priority(101))) FuzzInstallation fuzz_installation;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A heap copy of exactly the text and its NUL, so that any read past it is caught.
  const std::size_t n = strnlen(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<char[]> text(new char[n + 1]);
  std::memcpy(text.get(), data, n);
  text[n] = 0;

  int walked = 0;
  for (const char* p = text.get(); *p;) {
    const int k = utf8_char_length(p);
    if (k == 0 || k < -1 || k > 4) std::abort();
    walked += k > 0;
    p += k > 0 ? k : 1;
  }
  if (utf8_char_count(text.get()) != walked) std::abort();

  const char* last = utf8_last_char(text.get());
  if ((n == 0) != (last == nullptr)) std::abort();

  if (n <= 100000) {
    String s(text.get(), static_cast<int>(n));
    String r(s), u(s), d(s), c(s);
    r.reverse();
    u.upcase();
    d.downcase();
    c.capitalize();
    if (r.length() != s.length() || u.length() != s.length() || d.length() != s.length() ||
        c.length() != s.length())
      std::abort();
    if (s.length() != static_cast<int>(n)) std::abort();
  }

  std::vector<char16_t> units(2 * n + 3);
  const char* src = text.get();
  char16_t* dst = units.data();
  while (*src) {
    const char* before = src;
    if (utf8_to_utf16_char(src, dst)) {
      if (src != before) std::abort();
      ++src;  // past the bad byte
    }
    if (dst > units.data() + 2 * n) std::abort();
  }
  return 0;
}
