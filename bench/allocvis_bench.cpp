// The detail file of a String size class holding 100,000 live representations, against a
// plain loop that writes the same lines with fwrite, in the same run. Both write into a
// fresh folder under the system's temporary folder.
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQK_BENCH=ON
//   ninja -C build/bench allocvis_bench && build/bench/bin/allocvis_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "memory/report/allocvis.h"
#include "memory/lsthldr.h"

namespace {

const int many = 100000;

struct Setup {
  std::filesystem::path root;
  ALLOCATOR_QK pool{64, 1024, "String64"};
  std::vector<void*> objects;
  Tracker tracker;

  Setup() {
    root = std::filesystem::temp_directory_path() /
           ("allocvis_bench_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(root / "log");
    const std::uint32_t capacity = 64 - 14;
    for (int i = 0; i < many; ++i) {
      char* p = static_cast<char*>(pool.alloc());
      char text[40];
      const int length = std::snprintf(text, sizeof text, "representation number %d", i);
      const std::int32_t refs = 1;
      std::memcpy(p, &capacity, 4);
      std::memcpy(p + 4, &length, 4);
      std::memcpy(p + 8, &refs, 4);
      p[12] = 0;
      std::memcpy(p + 13, text, static_cast<std::size_t>(length) + 1);
      objects.push_back(p);
    }
    tracker.setHolder(new ListHolderQK);
    tracker.setVisitor(new AllocatorVisitorQK);
    tracker.enter(&pool);
#ifdef _WIN32
    _putenv_s("QK_ROOT", root.string().c_str());
#else
    setenv("QK_ROOT", root.string().c_str(), 1);
#endif
  }
  ~Setup() {
    tracker.remove(&pool);
    for (void* p : objects) pool.free(p);
    std::filesystem::remove_all(root);
  }
};

Setup& setup() {
  static Setup s;
  return s;
}

void BM_DetailFile(benchmark::State& state) {
  Setup& s = setup();
  std::string report;
  for (auto _ : state) {
    std::ostringstream out;
    s.tracker.visit(&out, "String64");
    report = out.str();
  }
  // The file's size shows that the lines were written.
  const std::size_t at = report.find("written to file (");
  const std::size_t end = report.find(")\n", at);
  if (at == std::string::npos || end == std::string::npos) {
    state.SkipWithError("no detail file");
    return;
  }
  const std::string path = report.substr(at + 17, end - at - 17);
  state.counters["lines"] = many;
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
}

// The same lines, found by walking the same hunks, written with fwrite.
void BM_FwriteBaseline(benchmark::State& state) {
  Setup& s = setup();
  const std::string path = (s.root / "log" / "baseline.txt").string();
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "wb");
    for (const ALLOCATOR_QK::Hunk* h = s.pool.hunks(); h; h = h->next)
      for (std::uint32_t off = 0; off + s.pool.objectSize() <= s.pool.hunkLength(); off += s.pool.objectSize()) {
        const char* o = h->block + off;
        if (s.pool.holdsFreeMark(o)) continue;
        const char* text = o + 13;
        std::fputc('"', f);
        std::fwrite(text, 1, std::strlen(text), f);
        std::fwrite("\"\n", 1, 2, f);
      }
    std::fclose(f);
  }
  state.counters["lines"] = many;
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
}

BENCHMARK(BM_DetailFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FwriteBaseline)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
