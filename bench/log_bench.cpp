// The logger's costs: a level test that fails (the common case at every call site) and a
// record formatted and written to standard error (here /dev/null).
#include <benchmark/benchmark.h>

#include <cstdio>

#include "log/logger.h"

namespace {

LoggerGuard logger_guard;

void BM_LevelTestFails(benchmark::State& state) {
  stdlog->setLevel(MINIMUM);
  for (auto _ : state) {
    bool on = stdlog->isOn("log_bench", __LINE__, VERBOSE);
    benchmark::DoNotOptimize(on);
  }
}
BENCHMARK(BM_LevelTestFails);

void BM_RecordToStderr(benchmark::State& state) {
  stdlog->setLevel(MINIMUM);
  if (!std::freopen("/dev/null", "w", stderr)) {
    state.SkipWithError("cannot send standard error to /dev/null");
    return;
  }
  int n = 0;
  for (auto _ : state) {
    if (stdlog->isOn("log_bench", __LINE__, ERROR)) {
      stdlog->stream() << "Error returned from command. Command: java -jar x.jar. Exit Code:" << ++n;
      stdlog->commit();
    }
  }
}
BENCHMARK(BM_RecordToStderr);

}  // namespace

BENCHMARK_MAIN();
