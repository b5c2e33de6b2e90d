// (The file name must not begin with "stacktrace": traces leave such files out.)
// Stack traces of a 20-deep stack with "%f:%l;" against glibc's backtrace (addresses
// only) and backtrace plus backtrace_symbols (module and symbol names, no lines), all in
// one run. The first trace of the process, which reads the symbol data, is timed once
// before the benchmarks and printed.
#include <benchmark/benchmark.h>
#include <execinfo.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "diag/stacktrace.h"

namespace {

constexpr int kDepth = 20;
volatile int sink = 0;

// Calls work() at the bottom of a stack depth frames deep.
__attribute__((noinline)) void at_depth(int depth, const std::function<void()>& work) {
  if (depth <= 1) {
    work();
  } else {
    at_depth(depth - 1, work);
  }
  sink = sink + 1;  // keeps every level a frame of its own
}

int frames_of(const char* trace) {
  int n = 0;
  for (const char* p = trace; *p; ++p) n += *p == ';';
  return n;
}

void BM_GlibcBacktrace(benchmark::State& state) {
  for (auto _ : state) {
    at_depth(kDepth, [] {
      void* frames[128];
      benchmark::DoNotOptimize(backtrace(frames, 128));
    });
  }
}
BENCHMARK(BM_GlibcBacktrace);

void BM_GlibcBacktraceSymbols(benchmark::State& state) {
  for (auto _ : state) {
    at_depth(kDepth, [] {
      void* frames[128];
      const int n = backtrace(frames, 128);
      char** names = backtrace_symbols(frames, n);
      benchmark::DoNotOptimize(names);
      std::free(names);
    });
  }
}
BENCHMARK(BM_GlibcBacktraceSymbols);

void BM_StacktraceFileAndLine(benchmark::State& state) {
  int frames = 0;
  for (auto _ : state) {
    at_depth(kDepth, [&frames] { frames = frames_of(stacktrace("%f:%l;")); });
  }
  state.counters["frames"] = frames;
}
BENCHMARK(BM_StacktraceFileAndLine);

void BM_StacktraceFunctionNames(benchmark::State& state) {
  for (auto _ : state) {
    at_depth(kDepth, [] { benchmark::DoNotOptimize(stacktrace("%s;")); });
  }
}
BENCHMARK(BM_StacktraceFunctionNames);

}  // namespace

int main(int argc, char** argv) {
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpu_start = std::clock();
  std::string first;
  at_depth(kDepth, [&first] { first = stacktrace("%f:%l;"); });
  const auto took = std::chrono::steady_clock::now() - start;
  const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  int glibc_frames = 0;
  at_depth(kDepth, [&glibc_frames] {
    void* frames[128];
    glibc_frames = backtrace(frames, 128);
  });
  std::printf("first trace of the process: %.2f ms (%.2f ms of processor time), %d frames "
              "(glibc's backtrace: %d)\n%s\n",
              std::chrono::duration<double, std::milli>(took).count(), cpu_ms, frames_of(first.c_str()),
              glibc_frames, first.c_str());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
