// Many processes, and many threads of one process, logging into one installation at once:
// every record arrives exactly once, whole, and in its writer's order, with and without
// file switching.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/logger.h"
#include "tests/support/test_child.h"
#include "platform/environment/environment.h"
#include "platform/process/process.h"
#include "tests/support/testsupport.h"

namespace {

using testsupport::ScopedEnv;
namespace fs = std::filesystem;

constexpr int kProcesses = 16;
constexpr int kRecords = 2000;

// Writes the records "stress <process id> <sequence>" through stdlog, or through a logger
// of its own over "stress.%3" when QK_STRESS_OWN_FILE is set.
TEST(DISABLED_ChildScenario, WriteRecords) {
  const char* count_text = platform::get_env("QK_STRESS_RECORDS");
  const int count = count_text ? std::atoi(count_text) : 0;
  const unsigned long pid = platform::process_id();
  LOGGER_QK* own = platform::get_env("QK_STRESS_OWN_FILE") ? new LOGGER_QK(".", "stress.%3", 0) : nullptr;
  LOGGER_QK* log = own ? own : stdlog;
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(log->isOn("stress_test", __LINE__, ERROR));
    log->stream() << "stress " << pid << " " << i;
    log->commit();
  }
  delete own;
}

constexpr int kThreads = 8;
constexpr int kThreadRecords = 3000;

// Eight threads at once write the records "stress <thread> <sequence>": two through
// QK_LOG, two through stdlog's calls, two through a logger of the program's own that shares
// stdlog's file, and two through one logger with a file of its own, "threads.%3".
TEST(DISABLED_ChildScenario, ThreadsWriteRecords) {
  LOGGER_QK shared_sink;
  LOGGER_QK own_file(".", "threads.%3", 0);
  LOGGER_QK* loggers[] = {nullptr, stdlog, &shared_sink, &own_file};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &loggers] {
      LOGGER_QK* log = loggers[t / 2];
      for (int i = 0; i < kThreadRecords; ++i) {
        if (!log) {
          QK_LOG_AT("stress_test", __LINE__, ERROR) << "stress " << t << " " << i;
        } else if (log->isOn("stress_test", __LINE__, ERROR)) {
          log->stream() << "stress " << t << " ";
          log->stream() << i;
          log->commit();
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

struct Seen {
  std::vector<std::string> bad;
  std::map<unsigned long, std::vector<int>> sequences;  // process: sequences in file order
};

// Reads the files "<stem><number>" in number order, the order they were begun in.
Seen readRecords(const std::string& dir, const std::string& stem) {
  std::vector<std::pair<int, std::string>> files;
  for (const auto& item : fs::directory_iterator(dir)) {
    const std::string name = item.path().filename().string();
    if (name.compare(0, stem.size(), stem) == 0)
      files.emplace_back(std::atoi(name.c_str() + stem.size()), name);
  }
  std::sort(files.begin(), files.end());
  Seen seen;
  for (const auto& file : files) {
    std::istringstream in(testsupport::read_file(dir + "/" + file.second));
    std::string line;
    while (std::getline(in, line)) {
      unsigned long pid = 0;
      int sequence = -1;
      char tail = 0;
      if (line.size() < 100 || line.compare(72, 21, "stress_test          ") != 0 ||
          std::sscanf(line.c_str() + 99, "stress %lu %d%c", &pid, &sequence, &tail) != 2) {
        seen.bad.push_back(file.second + ": " + line);
        continue;
      }
      seen.sequences[pid].push_back(sequence);
    }
  }
  return seen;
}

class LogStress : public ::testing::Test {
 protected:
  // The environment of a standard-mode installation in root_ with its own key.
  struct Installation {
    Installation(const std::string& root, const char* limit, int records, bool own_file)
        : root_env("QK_ROOT", root.c_str()),
          key("QK_KEY", std::to_string(1000 + platform::process_id() % 100000).c_str()),
          log("QK_LOG", nullptr),
          nokey("QK_LOG_NOKEY", nullptr),
          file_limit("QK_LOGFILE_LIMIT", limit),
          count("QK_STRESS_RECORDS", std::to_string(records).c_str()),
          own("QK_STRESS_OWN_FILE", own_file ? "1" : nullptr) {}
    ScopedEnv root_env, key, log, nokey, file_limit, count, own;
  };

  // Runs the writers at once and checks what the files hold.
  void runWriters(bool own_file, const char* limit, const std::string& stem) {
    Installation installation(root_.path(), limit, kRecords, own_file);
    std::vector<testsupport::Run> runs(kProcesses);
    std::vector<std::thread> threads;
    for (int w = 0; w < kProcesses; ++w)
      threads.emplace_back([w, &runs] { runs[w] = testsupport::run_child("WriteRecords"); });
    for (auto& t : threads) t.join();
    for (const auto& r : runs) ASSERT_EQ(0u, r.exit_code) << r.err;

    const Seen seen = readRecords(root_ / "log", stem);
    EXPECT_TRUE(seen.bad.empty()) << seen.bad.size() << " broken lines, first: " << seen.bad[0];
    EXPECT_EQ(static_cast<std::size_t>(kProcesses), seen.sequences.size());
    for (const auto& process : seen.sequences) {
      std::vector<int> expected(kRecords);
      for (int i = 0; i < kRecords; ++i) expected[i] = i;
      EXPECT_TRUE(process.second == expected) << "process " << process.first << " has "
                                              << process.second.size() << " records out of order or missing";
    }
  }
  testsupport::TempDir root_;
};

TEST_F(LogStress, EightThreadsOfOneProcessThroughEveryKindOfLogger) {
  Installation installation(root_.path(), "100000000", 0, false);
  testsupport::Run r = testsupport::run_child("ThreadsWriteRecords");
  ASSERT_EQ(0u, r.exit_code) << r.err;
  EXPECT_EQ("", r.err);
  Seen seen = readRecords(root_ / "log", "stdlog.");
  const Seen own = readRecords(root_ / "log", "threads.");
  seen.bad.insert(seen.bad.end(), own.bad.begin(), own.bad.end());
  EXPECT_TRUE(seen.bad.empty()) << seen.bad.size() << " broken lines, first: " << seen.bad[0];
  for (int t = 0; t < kThreads; ++t) {
    const Seen& where = t < 6 ? seen : own;
    const auto found = where.sequences.find(static_cast<unsigned long>(t));
    const std::vector<int> got = found == where.sequences.end() ? std::vector<int>() : found->second;
    std::vector<int> expected(kThreadRecords);
    for (int i = 0; i < kThreadRecords; ++i) expected[i] = i;
    EXPECT_TRUE(got == expected) << "thread " << t << " has " << got.size()
                                 << " records out of order or missing";
  }
  EXPECT_EQ(static_cast<std::size_t>(6), seen.sequences.size());
  EXPECT_EQ(static_cast<std::size_t>(2), own.sequences.size());
}

TEST_F(LogStress, StdlogRotatesThroughTenFilesWithTheEnvironmentLimit) {
  Installation installation(root_.path(), "501", 60, false);
  testsupport::Run r = testsupport::run_child("WriteRecords");
  ASSERT_EQ(0u, r.exit_code) << r.err;
  // Lines of about 117 bytes: five to a 501-byte file, so twelve files were begun and the
  // numbers went round (stdlog.0 and stdlog.1 were begun anew).
  for (int n = 0; n < 10; ++n) {
    const std::string path = root_ / ("log/stdlog." + std::to_string(n));
    ASSERT_TRUE(testsupport::file_exists(path)) << n;
    EXPECT_LE(testsupport::read_file(path).size(), 501u + 130u) << n;
  }
  const Seen seen = readRecords(root_ / "log", "stdlog.");
  EXPECT_TRUE(seen.bad.empty());
  ASSERT_EQ(1u, seen.sequences.size());
  // The ten files hold the newest records without a gap; the oldest went with the wrap.
  std::vector<int> kept = seen.sequences.begin()->second;
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(59, kept.back());
  EXPECT_GT(kept.front(), 0);
  for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept.front() + static_cast<int>(i), kept[i]);
}

TEST_F(LogStress, SixteenProcessesIntoOneFile) {
  runWriters(false, "100000000", "stdlog.");
  // With no switching, everything went into the one file the first process began.
  int files = 0;
  for (const auto& item : fs::directory_iterator(root_ / "log")) files += item.is_regular_file();
  EXPECT_EQ(1, files);
}

TEST_F(LogStress, SixteenProcessesWithA20000ByteLimit) {
  runWriters(true, "20000", "stress.");
  std::uintmax_t largest = 0;
  for (const auto& item : fs::directory_iterator(root_ / "log"))
    largest = std::max(largest, item.file_size());
  EXPECT_LE(largest, 20000u + 200u);  // a file switches once it is above the limit
}

}  // namespace
