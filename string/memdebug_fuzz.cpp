// libFuzzer target for the allocator's option text (QK_MEMDEBUG and the reports' "-d"
// texts): any text parses into flags and a trace pattern that lies within the text, and
// the allocator then still hands out and takes back objects, traced or not.
//
//   ninja -C /tmp/b-fuzz memdebug_fuzz && /tmp/b-fuzz/bin/memdebug_fuzz -max_total_time=60
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "memory/allocator.h"
#include "platform/environment/environment.h"
#include "string/String.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  platform::put_env("QK_ROOT=/nonexistent-qk-root");
  platform::put_env("QK_LOCAL=/nonexistent-qk-local");
  platform::put_env("QK_LOG_NOKEY=1");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // cut at a NUL byte
  static ALLOCATOR_QK* pools[] = {new ALLOCATOR_QK(64, 8, "String64"), new ALLOCATOR_QK(32, 8, "String32"),
                                  new ALLOCATOR_QK(24, 8, "Other")};
  for (ALLOCATOR_QK* pool : pools) {
    pool->setDebugOptions(text.c_str());
    if (pool->debugFlags() & ~63u) abort();
    const char* pattern = pool->tracePattern();
    if (pattern && strcmp(pattern, "*") != 0 && !strstr(text.c_str(), pattern)) abort();
    void* objects[10];
    for (void*& o : objects) o = pool->alloc();
    for (void* o : objects) pool->free(o);
  }
  String made(text.c_str());  // traced under the switches just set
  String copy(made);
  if (strcmp(copy, made) != 0) abort();
  for (ALLOCATOR_QK* pool : pools) pool->setDebugOptions("");
  return 0;
}
