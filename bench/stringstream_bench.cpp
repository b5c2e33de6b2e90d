// Writing 100,000 lines of mixed integers and words through oStringstream_QK into a
// String, against std::ostringstream, in the same run. The text (about 800 KB) stays
// within what one String holds.
// Run with QK_ROOT, QK_LOCAL and QK_LOG_NOKEY=1 set (the framework starts its logger).
#include <benchmark/benchmark.h>

#include <sstream>

#include "string/String.h"
#include "string/StringIos.h"

namespace {

const int kLines = 100000;
const char* const words[] = {"ab", "cde", "fghi", "jk", "lmnop", "q", "rs", "tuv"};

template <typename Stream>
void write_lines(Stream& out) {
  for (int i = 0; i < kLines; ++i) out << i % 1000 << ' ' << words[i % 8] << '\n';
}

void BM_oStringstream_QK(benchmark::State& state) {
  std::int64_t bytes = 0;
  for (auto _ : state) {
    String target;
    oStringstream_QK out(target);
    write_lines(out);
    if (!out.good()) state.SkipWithError("the stream failed");
    bytes = target.length();
    benchmark::DoNotOptimize(target.rep());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_oStringstream_QK)->Unit(benchmark::kMillisecond);

void BM_std_ostringstream(benchmark::State& state) {
  std::int64_t bytes = 0;
  for (auto _ : state) {
    std::ostringstream out;
    write_lines(out);
    const std::string text = out.str();
    bytes = static_cast<std::int64_t>(text.size());
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_std_ostringstream)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
