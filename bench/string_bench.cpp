// String against std::string: copying a 1 KB text, appending single bytes up to 1 MB, and
// finding a 4-byte text at the end of 1 MB.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "string/String.h"

namespace {

const int kilobyte = 1024;
const int megabyte = 1 << 20;

std::string letters(int n) {
  std::mt19937 random(7);
  std::string text(static_cast<std::size_t>(n), ' ');
  for (char& c : text) c = static_cast<char>('a' + random() % 26);
  return text;
}

void BM_CopyString1K(benchmark::State& state) {
  const String source(letters(kilobyte).c_str());
  for (auto _ : state) {
    String copy(source);
    benchmark::DoNotOptimize(copy.rep());
  }
}
BENCHMARK(BM_CopyString1K);

void BM_CopyStdString1K(benchmark::State& state) {
  const std::string source = letters(kilobyte);
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy.data());
  }
}
BENCHMARK(BM_CopyStdString1K);

void BM_AppendBytesString1M(benchmark::State& state) {
  for (auto _ : state) {
    String s;
    for (int i = 0; i < megabyte - 14; ++i) s += static_cast<char>('a' + (i & 15));
    benchmark::DoNotOptimize(s.rep());
  }
  state.SetBytesProcessed(state.iterations() * megabyte);
}
BENCHMARK(BM_AppendBytesString1M)->Unit(benchmark::kMillisecond);

void BM_AppendBytesStdString1M(benchmark::State& state) {
  for (auto _ : state) {
    std::string s;
    for (int i = 0; i < megabyte - 14; ++i) s += static_cast<char>('a' + (i & 15));
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(state.iterations() * megabyte);
}
BENCHMARK(BM_AppendBytesStdString1M)->Unit(benchmark::kMillisecond);

// The 4-byte text occurs only at the end of the megabyte.
std::string haystack() {
  std::string text = letters(megabyte - 100);
  for (std::size_t i = 0; i + 4 <= text.size(); ++i)
    if (text.compare(i, 4, "qkzx") == 0) text[i] = 'a';
  return text + "qkzx";
}

void BM_IndexString1M(benchmark::State& state) {
  const String text(haystack().c_str());
  for (auto _ : state) benchmark::DoNotOptimize(text.index("qkzx"));
  state.SetBytesProcessed(state.iterations() * text.length());
}
BENCHMARK(BM_IndexString1M)->Unit(benchmark::kMicrosecond);

void BM_FindStdString1M(benchmark::State& state) {
  const std::string text = haystack();
  for (auto _ : state) benchmark::DoNotOptimize(text.find("qkzx"));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FindStdString1M)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
