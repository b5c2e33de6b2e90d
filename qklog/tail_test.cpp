// qklog tail on blocks in memory whose log directory is a scratch folder: the last lines
// of files of any size, and what it refuses to open.
#include "qklog/tail.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/environment/environment.h"
#include "qklog/records.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

#if defined(__SANITIZE_ADDRESS__)
#define QK_TEST_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QK_TEST_ADDRESS_SANITIZER 1
#endif
#endif

namespace {

class NoLock : public qklog::BlockLock {
 public:
  bool lock() override { return true; }
  void unlock() override {}
};

// A block whose stdlog entry is at the file number, in the log directory.
std::unique_ptr<MEMORY_LGQK> block_for(const std::string& log_directory, std::int32_t number) {
  std::unique_ptr<MEMORY_LGQK> block(new MEMORY_LGQK());
  std::memcpy(block->log_directory, log_directory.data(), log_directory.size());
  std::memcpy(block->files[0].directory, ".", 2);
  std::memcpy(block->files[0].pattern, "stdlog.%1", 10);
  block->files[0].file_number = number;
  return block;
}

struct TailRun {
  int code = -1;
  std::string out, err;
};

std::string contents(std::FILE* f) {
  std::string text;
  std::rewind(f);
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
  std::fclose(f);
  return text;
}

TailRun run_tail(const MEMORY_LGQK& block, long lines, const qklog::RecordFilter* filter = nullptr,
                 bool json = false) {
  NoLock lock;
  qklog::TailOptions options;
  options.lines = lines;
  options.filter = filter;
  options.json = json;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  TailRun r;
  r.code = qklog::tail(&block, lock, options, out, err);
  r.out = contents(out);
  r.err = contents(err);
  return r;
}

// The last count complete lines of the text, as tail(1) would print them.
std::string last_lines(const std::string& text, long count) {
  std::string whole = text.substr(0, text.rfind('\n') + 1);
  std::size_t start = whole.size();
  for (long seen = 0; start > 0 && seen < count; ++seen) {
    const std::size_t previous = start >= 2 ? whole.rfind('\n', start - 2) : std::string::npos;
    start = previous == std::string::npos ? 0 : previous + 1;
  }
  return whole.substr(start);
}

TEST(QklogTail, LastLinesAcrossReadBlocksWithLongLinesAndATornEnd) {
  testsupport::TempDir dir;
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "short line " + std::to_string(i) + "\n";
  text += std::string(200000, 'L') + "\n";  // longer than any block read at once
  text += "after the long one\n";
  text += std::string(70000, 'M') + "\n";
  text += "last complete\n";
  text += "torn, without its line feed";
  testsupport::write_file(dir / "stdlog.7", text);
  const auto block = block_for(dir.path(), 17);
  for (long n : {0L, 1L, 2L, 3L, 4L, 5L, 2000L, 3004L, 3005L, 100000L}) {
    const TailRun r = run_tail(*block, n);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, last_lines(text, n)) << "-n " << n;
  }

  testsupport::write_file(dir / "stdlog.7", "no line feed at all");
  EXPECT_EQ(run_tail(*block, 3).out, "");
  testsupport::write_file(dir / "stdlog.7", "\n\n\n");
  EXPECT_EQ(run_tail(*block, 2).out, "\n\n");
}

// A record line of the writers' shape with the text.
std::string record_line(const std::string& text) {
  return "12/09 10:11:12.13 host           Loader               4711 ERROR        Brimvale                42 " + text +
         "\n";
}

TEST(QklogTail, TheLastRecordsReachBackThroughTheRingOldestFirst) {
  testsupport::TempDir dir;
  // Numbers 4 to 13 (files stdlog.4 to stdlog.9, then stdlog.0 to stdlog.3), three records
  // each; the file of number 8 is missing, those of 10 and 12 begin with a header line.
  std::string all;
  for (int number = 4; number <= 13; ++number) {
    if (number == 8) continue;
    std::string text = number == 10 ? "%%         +12.34 host 1700000000.05         -60 0\n"
                       : number == 12 ? "%%          -1.50 host 1700000000.05         -60 0\n"
                                      : "";
    for (int k = 0; k < 3; ++k) text += record_line("file " + std::to_string(number) + " record " + std::to_string(k));
    testsupport::write_file(dir / ("stdlog." + std::to_string(number % 10)), text);
    all += text;
  }
  testsupport::write_file(dir / "stdlog.3", testsupport::read_file(dir / "stdlog.3") + "torn");
  const auto block = block_for(dir.path(), 13);
  TailRun r = run_tail(*block, 4);
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, record_line("file 12 record 2") + record_line("file 13 record 0") + record_line("file 13 record 1") +
                       record_line("file 13 record 2"));
  auto file_records = [](int number) {
    std::string text;
    for (int k = 0; k < 3; ++k) text += record_line("file " + std::to_string(number) + " record " + std::to_string(k));
    return text;
  };
  r = run_tail(*block, 7);
  EXPECT_EQ(r.out, record_line("file 11 record 2") + "%%          -1.50 host 1700000000.05         -60 0\n" +
                       file_records(12) + file_records(13))
      << "a header line within the range is shown, and does not count";
  for (long n : {27L, 100L}) {
    r = run_tail(*block, n);
    EXPECT_EQ(r.out, all) << "-n " << n;
    EXPECT_EQ(r.err, "");
  }

  // N counts the records that pass; the JSON of a record carries its file's offset.
  qklog::RecordFilter filter;
  std::string why;
  ASSERT_TRUE(filter.set("match", "record [02]$", 0, &why));
  r = run_tail(*block, 9, &filter);
  EXPECT_EQ(r.out.find(record_line("file 9 record 2") + record_line("file 10 record 0")), 0u) << r.out;
  r = run_tail(*block, 5, &filter);
  EXPECT_EQ(r.out, record_line("file 11 record 2") + record_line("file 12 record 0") + record_line("file 12 record 2") +
                       record_line("file 13 record 0") + record_line("file 13 record 2"));
  r = run_tail(*block, 5, &filter, true);
  EXPECT_NE(r.out.find("\"text\":\"file 11 record 2\"}\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"text\":\"file 12 record 0\",\"offset\":-1.50}\n"), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5);
  r = run_tail(*block, 7, &filter, true);
  EXPECT_EQ(r.out.find("{\"time\":"), 0u) << r.out;
  EXPECT_NE(r.out.find(",\"pid\":4711,\"level\":\"ERROR\",\"source\":\"Brimvale\",\"line\":42,\"text\":\"file 10 record 2\","
                       "\"offset\":12.34}\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"text\":\"file 13 record 2\"}\n"), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 7);
}

#ifndef _WIN32

TEST(QklogTail, AnOlderFileThatIsALinkIsLeftOutWithANotice) {
  testsupport::TempDir dir;
  testsupport::write_file(dir / "secret", record_line("secret"));
  testsupport::write_file(dir / "stdlog.0", record_line("older"));
  ASSERT_EQ(symlink((dir / "secret").c_str(), (dir / "stdlog.1").c_str()), 0);
  testsupport::write_file(dir / "stdlog.2", record_line("current"));
  const TailRun r = run_tail(*block_for(dir.path(), 2), 10);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, record_line("older") + record_line("current"));
  EXPECT_NE(r.err.find("qklog: cannot read " + dir.path() + "/./stdlog.1: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("; its records are left out\n"), std::string::npos) << r.err;
}

// A writer of the block may point its log directory at a folder of its own making.
TEST(QklogTail, LinksHardLinksAndFifosAreNotOpened) {
  testsupport::TempDir dir;
  testsupport::make_dirs(dir / "planted");
  const std::string secret = dir / "secret";
  testsupport::write_file(secret, "root:secret line 1\nroot:secret line 2\n");
  ASSERT_EQ(symlink(secret.c_str(), (dir / "planted/stdlog.1").c_str()), 0);
  ASSERT_EQ(link(secret.c_str(), (dir / "planted/stdlog.2").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "planted/stdlog.3").c_str(), 0600), 0);
  for (int number : {1, 2}) {
    const TailRun r = run_tail(*block_for(dir / "planted", number), 3);
    EXPECT_EQ(r.code, qklog::exit_no_file);
    EXPECT_EQ(r.out, "") << "stdlog." << number;
    EXPECT_NE(r.err.find("qklog: cannot read " + dir.path() + "/planted/./stdlog." + std::to_string(number)),
              std::string::npos)
        << r.err;
  }

  // A FIFO without a writer: refused at once. Should the open wait for a writer, one
  // comes after five seconds, so that the test ends either way.
  std::atomic<bool> done{false};
  std::thread rescuer([&] {
    for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int fd = open((dir / "planted/stdlog.3").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
  });
  const auto started = std::chrono::steady_clock::now();
  const TailRun fifo = run_tail(*block_for(dir / "planted", 3), 3);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  done = true;
  rescuer.join();
  EXPECT_EQ(fifo.code, qklog::exit_no_file);
  EXPECT_LT(seconds, 2.0) << "the FIFO held the tail up";
  EXPECT_NE(fifo.err.find("not a regular file"), std::string::npos) << fifo.err;
}

// In a child: the tail of a file far larger than the address space the child may use.
TEST(DISABLED_ChildScenario, TailOfAHugeFileUnderAMemoryLimit) {
  const std::string folder = platform::get_env("QK_TEST_TAIL_FOLDER");
  const auto block = block_for(folder, 0);
  struct rlimit limit;
  long pages = 0, page = sysconf(_SC_PAGESIZE);
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(pages * page) + 64L * 1024 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_AS, &limit), 0);
  const TailRun r = run_tail(*block, 2);
  std::printf("%d\n%s", r.code, r.out.c_str());
}

TEST(QklogTail, AHugeFileIsReadBackwardsInLittleMemory) {
#ifdef QK_TEST_ADDRESS_SANITIZER
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
  testsupport::TempDir dir;
  const std::string path = dir / "stdlog.0";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 1024L * 1024 * 1024), 0);  // a hole of 1 GB, then the records
  const std::string records = "record 1\nrecord 2\nrecord 3\n";
  ASSERT_EQ(pwrite(fd, records.data(), records.size(), 1024L * 1024 * 1024), static_cast<ssize_t>(records.size()));
  close(fd);
  const testsupport::Run r = testsupport::run_child(
      "TailOfAHugeFileUnderAMemoryLimit",
      testsupport::ChildOptions().set("QK_TEST_TAIL_FOLDER", dir.path()).unset("QK_KEY").set("QK_LOG_NOKEY", "1"));
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  EXPECT_EQ(r.out, "0\nrecord 2\nrecord 3\n") << r.err;
}

#endif

}  // namespace
