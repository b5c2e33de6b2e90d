// The logger's costs: a level test that fails (the common case at every call site), a
// record formatted and written to standard error (here /dev/null), and records written into
// the installation's numbered log file, against a bare loop of the same system calls
// (lock, open, status, write, close, unlock) with a fixed line.
//
// Run by hand, or through log_bench.sh for one and four processes at once. Without
// QK_ROOT the program makes an installation of its own in a temporary folder.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "log/internal/block.h"
#include "log/internal/record.h"
#include "log/detail/logstate.h"
#include "log/memlgqk.h"
#include "platform/environment/environment.h"
#include "platform/files/files.h"
#include "platform/process/process.h"

namespace {

// Made before the logger starts: the settings load needs an installation.
struct BenchInstallation {
  BenchInstallation() {
    if (platform::get_env("QK_ROOT")) return;
    root = (std::filesystem::temp_directory_path() /
            ("qk_log_bench_" + std::to_string(platform::process_id())))
               .generic_string();
    std::filesystem::create_directories(root + "/local");
    platform::put_env("QK_ROOT=" + root);
    platform::put_env("QK_LOCAL=" + root + "/local");
    platform::put_env("QK_KEY=" + std::to_string(2000 + platform::process_id() % 50000));
    platform::put_env("QK_LOGFILE_LIMIT=2000000000");
  }
  ~BenchInstallation() {
    std::error_code ec;
    if (!root.empty()) std::filesystem::remove_all(root, ec);
  }
  std::string root;
};
__attribute__((init_priority(101))) BenchInstallation bench_installation;

LoggerGuard logger_guard;

const char kText[] = "Error returned from command. Command: java -jar x.jar. Exit Code:";

void BM_LevelTestFails(benchmark::State& state) {
  stdlog->setLevel(MINIMUM);
  for (auto _ : state) {
    bool on = stdlog->isOn("log_bench", __LINE__, VERBOSE);
    benchmark::DoNotOptimize(on);
  }
}
BENCHMARK(BM_LevelTestFails);

// Four call sites of different modules, as a program's level tests come.
void BM_LevelTestFailsFourSites(benchmark::State& state) {
  stdlog->setLevel(MINIMUM);
  for (auto _ : state) {
    benchmark::DoNotOptimize(stdlog->isOn("Brimvale", 101, MILESTONE));
    benchmark::DoNotOptimize(stdlog->isOn("String", 202, TRACE));
    benchmark::DoNotOptimize(stdlog->isOn("allocator", 303, VERBOSE));
    benchmark::DoNotOptimize(stdlog->isOn("sym_engine", 404, WARNING));
  }
  state.SetItemsProcessed(4 * state.iterations());
}
BENCHMARK(BM_LevelTestFailsFourSites);

// The same four with a source filter in the block that lets none of them through: each
// test then judges its source by the table.
void BM_LevelTestFailsFourSitesSourceFilter(benchmark::State& state) {
  stdlog->setLevel(MINIMUM);
  MEMORY_LGQK* block = logimpl::logBlock();
  LogFilterEntry saved = block->filters[LOG_FILTER_ENTRIES - 1];
  LogFilterEntry& entry = block->filters[LOG_FILTER_ENTRIES - 1];
  std::memset(&entry, 0, sizeof entry);
  std::strcpy(entry.name, "log_bench_other");
  entry.level = VERBOSE + 1;
  entry.kind = LOG_FILTER_SOURCE_FILE;
  memlgqk_filters_changed(block);
  for (auto _ : state) {
    benchmark::DoNotOptimize(stdlog->isOn("Brimvale", 101, MILESTONE));
    benchmark::DoNotOptimize(stdlog->isOn("String", 202, TRACE));
    benchmark::DoNotOptimize(stdlog->isOn("allocator", 303, VERBOSE));
    benchmark::DoNotOptimize(stdlog->isOn("sym_engine", 404, WARNING));
  }
  entry = saved;
  memlgqk_filters_changed(block);
  state.SetItemsProcessed(4 * state.iterations());
}
BENCHMARK(BM_LevelTestFailsFourSitesSourceFilter);

// The floor of any level test: one load of a threshold and one compare.
void BM_BareLoadAndCompare(benchmark::State& state) {
  static volatile int threshold = MINIMUM;
  for (auto _ : state) {
    bool on = (VERBOSE & 0x7FFF) <= (threshold & 0x7FFF);
    benchmark::DoNotOptimize(on);
  }
}
BENCHMARK(BM_BareLoadAndCompare);

void BM_RecordToStderr(benchmark::State& state) {
  stdlog->setLevel(MINIMUM);
  if (!std::freopen("/dev/null", "w", stderr)) {
    state.SkipWithError("cannot send standard error to /dev/null");
    return;
  }
  MEMORY_LGQK* block = logimpl::logBlock();
  logimpl::attachLogBlock(block, nullptr, nullptr, false);  // standard-error mode
  int n = 0;
  for (auto _ : state) {
    if (stdlog->isOn("log_bench", __LINE__, ERROR)) {
      stdlog->stream() << kText << ++n;
      stdlog->commit();
    }
  }
  logimpl::attachLogBlock(block, memlgqk_lock, memlgqk_unlock, log_process.mode != LOG_MODE_STDERR_ONLY);
}
BENCHMARK(BM_RecordToStderr);

void BM_RecordToFile(benchmark::State& state) {
  stdlog->setLevel(MINIMUM);
  if (log_process.mode == LOG_MODE_STDERR_ONLY) {
    state.SkipWithError("no shared log directory");
    return;
  }
  int n = 0;
  for (auto _ : state) {
    if (stdlog->isOn("log_bench", __LINE__, ERROR)) {
      stdlog->stream() << kText << ++n;
      stdlog->commit();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RecordToFile)->MinTime(2.0)->UseRealTime();

// The same system calls with a record-sized line and no logger.
void BM_BareSyscalls(benchmark::State& state) {
  char directory[LOG_DIRECTORY_MAX + 1];
  const std::string path =
      std::string(memlgqk_log_directory(memlgqk_block(), directory)) + "/bare.0";
  std::string line(99, 'P');
  line += std::string(kText) + "12345\n";
  for (auto _ : state) {
    memlgqk_lock();
    platform::FileStatus st;
    platform::file_status(path.c_str(), &st);
    const int fd = platform::open_append(path.c_str());
    if (fd >= 0) {
      platform::write_fd(fd, line.data(), line.size());
      platform::close_fd(fd);
    }
    memlgqk_unlock();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareSyscalls)->MinTime(2.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
