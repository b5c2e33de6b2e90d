// libFuzzer target for the text readers of the system services: the shell-like word
// splitter of quote_where_words, split_words, parse_decimal, and the initialisation-file
// reader behind the legacy settings file. The first byte chooses the reader.
//
//   ninja -C /tmp/b-fuzz qkos_fuzz && /tmp/b-fuzz/bin/qkos_fuzz -max_total_time=60
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "env/qkos.h"
#include "platform/environment/environment.h"
#include "platform/process/process.h"
#include "platform/profile/profile.h"

namespace {

std::string scratch_file;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A settings load that finds its folders and no files.
  platform::put_env("QK_ROOT=/nonexistent-qk-root");
  platform::put_env("QK_LOCAL=/nonexistent-qk-local");
  platform::put_env("QKF_VALUE=va$lue with \"quotes\"");
  scratch_file = "/tmp/qkos_fuzz_" + std::to_string(platform::process_id()) + ".ini";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string c_text = text.substr(0, text.find('\0'));
  switch (data[0] % 3) {
    case 0: {
      const char* result = quote_where_words(c_text.c_str());
      if (strlen(result) > 999) abort();
      break;
    }
    case 1: {
      std::vector<char*> words(c_text.size() + 2, nullptr);
      split_words(c_text.c_str(), words.data());
      for (char* w : words) delete[] w;
      parse_decimal(c_text.c_str());
      break;
    }
    default: {
      FILE* f = fopen(scratch_file.c_str(), "wb");
      if (!f) return 0;
      fwrite(text.data(), 1, text.size(), f);
      fclose(f);
      for (unsigned long room : {1ul, 8ul, 253ul}) {
        std::vector<char> buf(room + 1, '\x7f');
        unsigned long n = platform::profile_string("Tallowin", "QK_ROOT", "", buf.data(), room,
                                                   scratch_file.c_str());
        if (n >= room || buf[n] != '\0' || buf[room] != '\x7f') abort();
      }
      remove(scratch_file.c_str());
      break;
    }
  }
  return 0;
}
