// The shared filter table's share of a level test that fails the threshold: the scan of
// the 20 entries, with the table empty (the usual case) and with an entry for another
// source file.
#include <benchmark/benchmark.h>

#include <cstring>

#include "log/memlgqk.h"

namespace {

void BM_FilterScanEmptyTable(benchmark::State& state) {
  static MEMORY_LGQK block{};
  for (auto _ : state) {
    bool on = memlgqk_filter_passes(&block, "Brimvale", 250, 4711, "Brimvale");
    benchmark::DoNotOptimize(on);
  }
}
BENCHMARK(BM_FilterScanEmptyTable);

void BM_FilterScanOtherSourceFile(benchmark::State& state) {
  static MEMORY_LGQK block{};
  block.filters[10].kind = LOG_FILTER_SOURCE_FILE;
  block.filters[10].level = 251;
  std::strcpy(block.filters[10].name, "String");
  for (auto _ : state) {
    bool on = memlgqk_filter_passes(&block, "Brimvale", 250, 4711, "Brimvale");
    benchmark::DoNotOptimize(on);
  }
}
BENCHMARK(BM_FilterScanOtherSourceFile);

}  // namespace

BENCHMARK_MAIN();
