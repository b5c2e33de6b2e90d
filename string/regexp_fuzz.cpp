// libFuzzer target for the pattern compiler and matcher: arbitrary pattern and text bytes
// through compile, the forward and backward searches and the String operations built on
// them. The pattern is the input up to its first NUL byte; the text is the rest. Every
// search must end within its step budget, and a match must lie inside the text.
//
//   export QK_ROOT=$(mktemp -d) QK_LOCAL=$QK_ROOT QK_LOG_NOKEY=1
//   build/fuzz/bin/regexp_fuzz -max_total_time=60
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "log/logger.h"
#include "string/Regex.h"
#include "string/String.h"
#include "string/regexp.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Compile errors are expected by the thousand; keep them out of the output.
  if (stdlog) stdlog->setLevel(FATAL);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string pattern = input.substr(0, nul);
  const std::string text = nul == std::string::npos ? std::string() : input.substr(nul + 1);
  const int n = static_cast<int>(text.size());

  if (regexp* prog = regexp_compile(pattern.c_str())) {
    int end = 0;
    const int at = regexp_exec(prog, text.data(), 0, n, &end, nullptr);
    if (at >= 0 && (end < at || end > n)) abort();
    for (int g = 0; g < regexp_groups; ++g) {
      int s, e;
      if (regexp_group(prog, g, &s, &e) && (s > n || e > n || s < 0)) abort();
    }
    regexp_free(prog);
  }

  const Regex r(pattern.c_str());
  int matchlen = 0;
  for (int start : {0, n / 2, -1, -(n / 2) - 1}) {
    const int at = r.search(text.data(), n, matchlen, start);
    if (at >= 0 && (matchlen < 0 || at + matchlen > n)) abort();
  }

  // The String operations see the text up to its first NUL, as a String holds it.
  String s(text.substr(0, text.find('\0')).c_str());
  String fields[8];
  split(s, fields, 8, r);
  groups(s, fields, 8, r);
  String replaced(s);
  replaced.gsub(r, "<>");
  if (replaced.length() > 8 * s.length() + 64 && s.length() < 1000) abort();
  s.at(r, -1);
  return 0;
}
