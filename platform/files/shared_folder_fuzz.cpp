// Arbitrary text as the log directory that a process reads from the shared log block:
// the test of a folder for shared files must judge any text without harm (it only looks:
// lstat, open of a folder, fstat), and only absolute paths get that far.
//
//   ninja -C <fuzz build> shared_folder_fuzz && <fuzz build>/bin/shared_folder_fuzz -max_total_time=60
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/files/files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t field = 259;  // the block's log directory field, less its zero byte
  const char* text = reinterpret_cast<const char*>(data);
  std::string path(text, strnlen(text, size < field ? size : field));
  if (!platform::is_absolute_path(path)) return 0;
  // A refusal always says why.
  if (!platform::shared_folder_usable(path) && !platform::last_file_failure().failed()) __builtin_trap();
  return 0;
}
