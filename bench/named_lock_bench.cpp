// A wait for a named lock that is free and its release, as every log record takes the
// block's mutex: by the same thread again (recursive) and from free, which on POSIX is a
// file lock taken and dropped. Run it in a folder of its own: it leaves QK_SEMbench.lock.
#include <benchmark/benchmark.h>

#include "platform/named_lock/named_lock.h"

namespace {

// The lock file is made in the current folder.
const char kFolder[] = ".";

void BM_NamedLockFreeWaitRelease(benchmark::State& state) {
  platform::NamedLock lock("QK_SEMbench", platform::NamedLock::everyone, kFolder);
  for (auto _ : state) {
    benchmark::DoNotOptimize(lock.wait(platform::NamedLock::forever));
    lock.release();
  }
}
BENCHMARK(BM_NamedLockFreeWaitRelease);

void BM_NamedLockHeldWaitRelease(benchmark::State& state) {
  platform::NamedLock lock("QK_SEMbench", platform::NamedLock::everyone, kFolder);
  lock.wait(platform::NamedLock::forever);
  for (auto _ : state) {
    benchmark::DoNotOptimize(lock.wait(platform::NamedLock::forever));
    lock.release();
  }
  lock.release();
}
BENCHMARK(BM_NamedLockHeldWaitRelease);

}  // namespace

BENCHMARK_MAIN();
