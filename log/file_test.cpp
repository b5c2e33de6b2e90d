// Log files: the shared file table, numbered files and their rules, header and lost-record
// lines, retries and the standard-error fallback. Each test attaches a block of its own
// whose log directory is a fresh temporary folder.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "env/qkos.h"
#include "log/internal/block.h"
#include "log/internal/record.h"
#include "log/detail/logstate.h"
#include "log/logfile_names.h"
#include "platform/environment/environment.h"
#include "platform/files/file_calls.h"
#include "platform/files/files.h"
#include "platform/testing/file_limit_testing.h"
#include "platform/process/process.h"
#include "tests/support/seam_faults.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"
#include "tests/support/scoped_override.h"

namespace {

using FileEntry = LogFileTableEntry;
using testsupport::ScopedEnv;
namespace fs = std::filesystem;

long long fixed_seconds = 1800000000;
platform::ClockReading testClock() {
  platform::ClockReading r;
  r.seconds = fixed_seconds;
  r.milliseconds = 270;
  r.timezone_minutes = -60;
  r.daylight = 0;
  return r;
}

const std::string kPrefix = std::string(98, 'P') + " ";

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_block_ = logimpl::logBlock();
    fixed_seconds = 1800000000;
    block_ = MEMORY_LGQK();
    setLogDirectory(dir_.path());
    logimpl::attachLogBlock(&block_, nullptr, nullptr, true);
  }
  void TearDown() override {
    for (LogFile* f : open_) f->close();
    logimpl::attachLogBlock(saved_block_, nullptr, nullptr, false);
  }
  void setLogDirectory(const std::string& path) {
    std::memset(block_.log_directory, 0, sizeof block_.log_directory);
    std::memcpy(block_.log_directory, path.data(), path.size());
  }
  LogFile* open(const char* pattern, int options = 0x10000, const char* directory = ".") {
    LogFile* f = LogFile::open(directory, pattern, options);
    if (f) open_.push_back(f);
    return f;
  }
  FileEntry& entry(int index) { return block_.files[index]; }
  void write(LogFile* f, const std::string& text) {
    logimpl::writeLine(f, kPrefix.c_str(), text.c_str(), text.size());
  }
  std::string contents(const std::string& name) { return testsupport::read_file(dir_ / name); }
  static std::string line(const std::string& text) { return kPrefix + text + "\n"; }
  void checkFileSizeLimit(void (*set_limit)(long long));

  testsupport::TempDir dir_;
  MEMORY_LGQK block_;
  std::vector<LogFile*> open_;

 private:
  MEMORY_LGQK* saved_block_ = nullptr;
  testsupport::ScopedOverride<decltype(logimpl::clock)> clock_{logimpl::clock, testClock};
};

TEST_F(LogFileTest, FirstOpenSetsUpTheEntryLaterOpensShareIt) {
  ScopedEnv limit("QK_LOGFILE_LIMIT", nullptr);
  LogFile* a = open("app.%1", 0x10000 | 0x1234);
  ASSERT_NE(nullptr, a);
  FileEntry& e = entry(0);
  EXPECT_STREQ(".", e.directory);
  EXPECT_STREQ("app.%1", e.pattern);
  EXPECT_EQ(0x1234u, e.options);
  EXPECT_EQ(1, e.open_count);
  EXPECT_EQ(0, e.file_number);
  EXPECT_EQ(100000, e.size_limit);
  EXPECT_EQ(-1, e.max_records);
  EXPECT_EQ(-1, e.file_days);
  EXPECT_EQ(1800000000, e.start_time);
  EXPECT_FALSE(testsupport::file_exists(dir_ / "app.0"));  // the probe leaves nothing

  e.file_number = 7;
  e.records = 3;
  LogFile* b = open("app.%1", 0x20000);
  EXPECT_EQ(2, e.open_count);
  EXPECT_EQ(0u, e.options);
  EXPECT_EQ(7, e.file_number);  // a later open keeps the shared state
  EXPECT_EQ(3, e.records);
  EXPECT_EQ(100000, b->fileLimit());

  LogFile* other = open("big.%2", 0x20000 | 0x80000, "sub");
  EXPECT_STREQ("big.%2", entry(1).pattern);
  EXPECT_EQ(1000000, other->fileLimit());
  EXPECT_EQ(30, other->fileDays());
  EXPECT_TRUE(fs::is_directory(dir_ / "sub"));
  EXPECT_EQ(2, open("two.%1", 0x40000 | 0x80000)->fileDays());

  b->setFileLimit(600);
  EXPECT_EQ(600, a->fileLimit());
  EXPECT_EQ(10002, e.open_count);
  open_.erase(open_.begin() + 1);
  b->close();
  EXPECT_EQ(10001, e.open_count);
}

TEST_F(LogFileTest, PatternExpansion) {
  LogFile* f = open("%n-%p-%h.%x.%2%");
  const std::string expected = std::string(shownProcessName()) + "-" +
                               std::to_string(log_process.pid) + "-" + log_process.host + ".%x.%2";
  EXPECT_EQ(expected.substr(0, 63), f->pattern());
  EXPECT_EQ(expected.substr(0, 63), std::string(entry(0).pattern));

  // Names cannot lead a file out of its directory.
  char saved_host[sizeof log_process.host];
  std::memcpy(saved_host, log_process.host, sizeof saved_host);
  std::strcpy(log_process.host, "../up\\side");
  LogFile* named = open("%h.%1");
  std::memcpy(log_process.host, saved_host, sizeof saved_host);
  EXPECT_STREQ(".._up_side.%1", named->pattern());
}

TEST_F(LogFileTest, SizeLimitFromTheEnvironmentAbove500) {
  {
    ScopedEnv limit("QK_LOGFILE_LIMIT", "500");
    EXPECT_EQ(100000, open("a.%1")->fileLimit());
  }
  ScopedEnv limit("QK_LOGFILE_LIMIT", "501");
  EXPECT_EQ(501, open("b.%1")->fileLimit());
}

TEST_F(LogFileTest, FirstOpenStartsAtTheNewestFile) {
  EXPECT_EQ(0, entry(0).file_number + (open("none.%1") ? 0 : 1));
  const auto now = fs::file_time_type::clock::now();
  for (int n : {2, 5, 8}) testsupport::write_file(dir_ / ("app." + std::to_string(n)), "x");
  fs::last_write_time(dir_ / "app.2", now - std::chrono::hours(3));
  fs::last_write_time(dir_ / "app.5", now - std::chrono::hours(1));
  fs::last_write_time(dir_ / "app.8", now - std::chrono::hours(2));
  open("app.%1");
  EXPECT_EQ(5, entry(1).file_number);
  // On a tie the highest number wins.
  fs::last_write_time(dir_ / "app.8", now - std::chrono::hours(1));
  open("app.%1", 0x10000, "./");
  EXPECT_EQ(8, entry(2).file_number);
}

TEST_F(LogFileTest, SizeRuleRotatesThroughTheRingAndBack) {
  LogFile* f = open("app.%1");
  f->setFileLimit(250);
  const std::string text(50, 't');  // 150-byte lines: two per file
  for (int i = 0; i < 21; ++i) write(f, text + std::to_string(i % 10));
  for (int n = 1; n < 10; ++n)
    EXPECT_EQ(line(text + std::to_string((2 * n) % 10)) + line(text + std::to_string((2 * n + 1) % 10)),
              contents("app." + std::to_string(n)))
        << n;
  // After number 9 comes number 0, begun anew.
  EXPECT_EQ(line(text + "0"), contents("app.0"));
  EXPECT_EQ(10, entry(0).file_number);
  EXPECT_EQ(1, entry(0).records);
}

TEST_F(LogFileTest, EveryFileOfTheRingIsWhereTheNamingRuleSays) {
  const char pattern[] = "w%0x%2.log";  // the last digit makes the ring: 100 numbers
  EXPECT_EQ(100, log_file_ring(pattern, std::strlen(pattern)));
  LogFile* f = open(pattern, 0x10000, "sub");
  ASSERT_NE(nullptr, f);
  f->setMaxRecords(1);  // two records a file
  for (int i = 0; i < 8; ++i) write(f, std::to_string(i));
  EXPECT_EQ(3, entry(0).file_number);
  for (int n = 0; n < 4; ++n) {
    char path[LOG_FILE_PATH_SIZE];
    log_file_path(block_.log_directory, "sub", pattern, n, path, sizeof path);
    EXPECT_EQ(line(std::to_string(2 * n)) + line(std::to_string(2 * n + 1)), testsupport::read_file(path)) << path;
  }
  EXPECT_TRUE(fs::exists(fs::path(dir_.path()) / "sub" / "w1x03.log"));

  // Names are cut as snprintf cuts them, and say how long they would be.
  char name[5];
  EXPECT_EQ(8u, log_file_name(LOG_STDLOG_PATTERN, std::strlen(LOG_STDLOG_PATTERN), -7, name, sizeof name));
  EXPECT_STREQ("stdl", name);
  EXPECT_EQ(8u, log_file_name(LOG_STDLOG_PATTERN, std::strlen(LOG_STDLOG_PATTERN), -7, nullptr, 0));
  char full[16];
  log_file_name(LOG_STDLOG_PATTERN, std::strlen(LOG_STDLOG_PATTERN), -7, full, sizeof full);
  EXPECT_STREQ("stdlog.3", full);
}

TEST_F(LogFileTest, HeaderLineCarriesTheTimeOffset) {
  LogFile* f = open("h.%1");
  setTimeOffset(0, 14);  // hundredths 1: no header
  write(f, "one");
  EXPECT_EQ(line("one"), contents("h.0"));

  const std::string host = (std::string(log_process.host) + std::string(14, ' ')).substr(0, 14);
  setTimeOffset(0, -25);
  requestHeader();
  write(f, "two");
  const std::string clock = " 1800000000.27         -60 0\n";
  EXPECT_EQ(line("one") + "%%          -0.03 " + host + clock + line("two"), contents("h.0"));

  setTimeOffset(-5, 1999);  // an offset beyond a second still shows two digits
  std::remove((dir_ / "h.0").c_str());  // a missing file is begun with the header
  write(f, "three");
  EXPECT_EQ("%%          -5.99 " + host + clock + line("three"), contents("h.0"));
}

TEST_F(LogFileTest, RecordAndDayRules) {
  LogFile* f = open("r.%1");
  f->setMaxRecords(2);
  for (int i = 0; i < 4; ++i) write(f, std::to_string(i));
  // Records above the maximum switch: three go into the first file.
  EXPECT_EQ(line("0") + line("1") + line("2"), contents("r.0"));
  EXPECT_EQ(line("3"), contents("r.1"));

  LogFile* d = open("d.%1");
  d->setFileDays(1);
  write(d, "a");
  fixed_seconds += 86400;
  write(d, "b");
  fixed_seconds += 1;
  write(d, "c");
  EXPECT_EQ(line("a") + line("b"), contents("d.0"));
  EXPECT_EQ(line("c"), contents("d.1"));
}

const std::string kLostLine = kPrefix.substr(0, 51) + "==========> Was unable to write the last ";

TEST_F(LogFileTest, AFileThatCannotTakeRecordsIsSwitchedOnceThenTheRecordIsLost) {
  LogFile* f = open("u.%1");
  // Every numbered file is a folder that cannot be removed or opened for writing.
  for (int n = 0; n < 10; ++n) {
    testsupport::make_dirs(dir_ / ("u." + std::to_string(n)));
    testsupport::write_file(dir_ / ("u." + std::to_string(n)) + "/keep", "k");
  }
  testing::internal::CaptureStderr();
  write(f, "lost");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ("LoggerQK: Unable to write following to logfile: " + line("lost"), err);
  // One switch was tried; u.1 could not be begun, so the number stayed.
  EXPECT_EQ(0, entry(0).file_number);
  for (int n = 0; n < 10; ++n) EXPECT_TRUE(testsupport::file_exists(dir_ / ("u." + std::to_string(n)) + "/keep"));

  for (int n = 0; n < 10; ++n) fs::remove_all(dir_ / ("u." + std::to_string(n)));
  write(f, "back");
  const std::string text = contents("u.0");
  ASSERT_EQ(kLostLine + "1 messages. Last reason was: ", text.substr(0, kLostLine.size() + 29)) << text;
  EXPECT_EQ(line("back"), text.substr(text.find('\n') + 1));
  // A success clears the count.
  write(f, "again");
  EXPECT_EQ(text + line("again"), contents("u.0"));
}

#ifndef _WIN32
// Writers refuse to write through a hard link (the other name may be any file of the
// system) or into a FIFO; either in place of the current file is switched past once, as a
// folder is, instead of costing every later record of every process.
TEST_F(LogFileTest, AHardLinkOrAFifoAsTheCurrentFileIsSwitchedPastOnce) {
  LogFile* f = open("h.%1");
  write(f, "a");
  testsupport::write_file(dir_ / "victim", "secret\n");
  fs::remove(dir_ / "h.0");
  fs::create_hard_link(dir_ / "victim", dir_ / "h.0");
  testing::internal::CaptureStderr();
  write(f, "b");
  write(f, "b2");
  EXPECT_EQ(line("b") + line("b2"), contents("h.1"));
  fs::remove(dir_ / "h.1");
  ASSERT_EQ(0, mkfifo((dir_ / "h.1").c_str(), 0600));
  write(f, "c");
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_EQ("secret\n", contents("victim"));
  EXPECT_EQ(2, entry(0).file_number);
  EXPECT_EQ(line("c"), contents("h.2"));
  EXPECT_TRUE(fs::is_fifo(dir_ / "h.1"));
  write(f, "d");
  EXPECT_EQ(line("c") + line("d"), contents("h.2"));
}
#endif

// The log directory is checked once, as a copy; what is written follows that copy, never
// the block's field, which another process may have changed since the check.
TEST_F(LogFileTest, FilesGoWhereTheCheckedCopyOfTheLogDirectorySays) {
  const std::string changed = "relative" + std::to_string(platform::process_id());
  setLogDirectory(changed);
  logimpl::attachLogBlock(&block_, nullptr, nullptr, true, dir_.path().c_str());
  LogFile* f = open("c.%1");
  write(f, "checked");
  EXPECT_EQ(line("checked"), contents("c.0"));
  EXPECT_FALSE(testsupport::file_exists(changed));
  fs::remove_all(changed);
}

// Failing calls for the seam: each fails with the error in fail_with while it is not 0.
int fail_with = 0;
long failingWrite(int fd, const void* data, std::size_t size) {
  if (fail_with == 0) return platform::write_fd(fd, data, size);
  errno = fail_with;
  return -1;
}
int failingOpen(const char* path) {
  if (fail_with == 0) return platform::open_append(path);
  errno = fail_with;
  return -1;
}
bool refusedCreate(const char*) {
  errno = EACCES;
  return false;
}

TEST_F(LogFileTest, AFullDiskStartsTheNextFileOnceAndNeverEmptiesTheRing) {
  LogFile* f = open("w.%1");
  for (int n = 2; n < 10; ++n) testsupport::write_file(dir_ / ("w." + std::to_string(n)), line("old"));
  write(f, "first");
  platform::ScopedSystemCalls seam;
  seam.files().write = failingWrite;
  fail_with = ENOSPC;
  testing::internal::CaptureStderr();
  // The full file is left for the next number, as a switch by size would; the new file is
  // empty, and an empty file is never switched away from: later records are lost, counted.
  for (int i = 0; i < 5; ++i) write(f, "lost " + std::to_string(i));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(5u, static_cast<std::size_t>(std::count(err.begin(), err.end(), '\n')));
  EXPECT_EQ(1, entry(0).file_number);
  EXPECT_EQ(line("first"), contents("w.0"));
  for (int n = 2; n < 10; ++n) EXPECT_EQ(line("old"), contents("w." + std::to_string(n))) << n;
  fail_with = 0;
  write(f, "room again");
  EXPECT_EQ(kLostLine + "5 messages. Last reason was: " + error_text(ENOSPC) + "\n" + line("room again"),
            contents("w.1"));
}

TEST_F(LogFileTest, FailuresOfTheWritingProcessLeaveTheSharedFilesAlone) {
  LogFile* f = open("p.%1");
  write(f, "kept");
  platform::ScopedSystemCalls seam;
  seam.files().open_append = failingOpen;
  seam.files().write = failingWrite;
  testing::internal::CaptureStderr();
  for (int error : {EMFILE, EFBIG, EACCES}) {
    fail_with = error;
    write(f, "lost");
  }
  testing::internal::GetCapturedStderr();
  fail_with = 0;
  EXPECT_EQ(0, entry(0).file_number);
  write(f, "after");
  EXPECT_EQ(line("kept") + kLostLine + "3 messages. Last reason was: " + error_text(EACCES) + "\n" +
                line("after"),
            contents("p.0"));
  EXPECT_FALSE(testsupport::file_exists(dir_ / "p.1"));
}

TEST_F(LogFileTest, ASwitchThatCannotBeginTheNextFileTruncatesNothing) {
  // As for a process of another user, who may not make files in the folder: the records
  // stay in the current file, past its limit, until a process that may switches.
  LogFile* f = open("t.%1");
  f->setFileLimit(200);
  testsupport::write_file(dir_ / "t.1", line("older file"));
  platform::ScopedSystemCalls seam;
  seam.files().create_new = refusedCreate;
  for (int i = 0; i < 4; ++i) write(f, std::to_string(i));
  EXPECT_EQ(line("0") + line("1") + line("2") + line("3"), contents("t.0"));
  EXPECT_EQ(0, entry(0).file_number);
  seam.files().create_new = seam.original().files.create_new;
  write(f, "4");
  EXPECT_EQ(line("4"), contents("t.1"));
  EXPECT_EQ(1, entry(0).file_number);
}

// A block lock that can be had or not, as the test says; it counts the holds it gave out.
bool lock_available = true;
int holds = 0;
bool testLock() {
  if (!lock_available) return false;
  ++holds;
  return true;
}
void testUnlock() { --holds; }

TEST_F(LogFileTest, WithoutTheBlockLockNothingIsTouchedAndEveryRecordIsCounted) {
  logimpl::attachLogBlock(&block_, testLock, testUnlock, true);
  LogFile* f = open("l.%1");
  write(f, "before");
  {
    testsupport::ScopedOverride<bool> unavailable(lock_available, false);
    EXPECT_EQ(nullptr, LogFile::open(".", "other.%1", 0x10000)) << "no entry is claimed without the lock";
    EXPECT_STREQ("", entry(1).pattern);
    f->setFileLimit(600);
    EXPECT_EQ(100000, f->fileLimit());
    testing::internal::CaptureStderr();
    write(f, "lost 1");
    write(f, "lost 2");
    EXPECT_EQ("LoggerQK: Unable to write following to logfile: " + line("lost 1") +
                  "LoggerQK: Unable to write following to logfile: " + line("lost 2"),
              testing::internal::GetCapturedStderr());
    EXPECT_EQ(line("before"), contents("l.0"));
    EXPECT_EQ(0, holds) << "nothing released that was not taken";
  }
  write(f, "after");
  EXPECT_EQ(line("before") + kLostLine + "2 messages. Last reason was: " + error_text(ENOLCK) + "\n" +
                line("after"),
            contents("l.0"));
  EXPECT_EQ(0, holds);
}

// A write that stops half-way, and a disk that is full from then on.
int writes_before_full = 0;
long halfWrite(int fd, const void* data, std::size_t size) {
  if (writes_before_full-- > 0) return platform::write_fd(fd, data, size / 2);
  errno = ENOSPC;
  return -1;
}

TEST_F(LogFileTest, ATornTailIsCutBeforeTheNextRecord) {
  LogFile* f = open("k.%1");
  write(f, "whole");
  // What a killed writer leaves: the start of its line and no line feed.
  const std::string fragment = line("dying").substr(0, 60);
  {
    const int fd = platform::open_append((dir_ / "k.0").c_str());
    ASSERT_GE(fd, 0);
    platform::write_fd(fd, fragment.data(), fragment.size());
    platform::close_fd(fd);
  }
  write(f, "next");
  EXPECT_EQ(line("whole") + line("next"), contents("k.0"));

  // A file that holds only a fragment is emptied.
  fs::remove(dir_ / "k.0");
  testsupport::write_file(dir_ / "k.0", fragment);
  write(f, "alone");
  EXPECT_EQ(line("alone"), contents("k.0"));

  // A writer that lives takes its own half back: the file never holds it.
  platform::ScopedSystemCalls seam;
  seam.files().write = halfWrite;
  writes_before_full = 1;
  testing::internal::CaptureStderr();
  write(f, "taken back");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(line("alone"), contents("k.0"));
}

// Writers that alternate: the entry keeps the size after the last whole record, so that
// the next writer, whichever process it is, knows the file ends in a line feed without
// reading it. At any other size the file's end is looked at, and a torn tail is cut.
TEST_F(LogFileTest, TheEntryTellsTheNextWriterWhereTheLastWholeRecordEnded) {
  LogFile* f = open("a.%1");
  write(f, "first");
  EXPECT_EQ(f->entry()->end_size, static_cast<std::int32_t>(line("first").size()));
  // Another process appends a fragment of the same length as a record would be, and then
  // puts the entry's size on it, as a writer of a whole record would. Attaching the block
  // again makes this process one that did not write last.
  const std::string fragment = line("dying").substr(0, 60);
  auto append = [&](const std::string& bytes) {
    const int fd = platform::open_append((dir_ / "a.0").c_str());
    ASSERT_GE(fd, 0);
    platform::write_fd(fd, bytes.data(), bytes.size());
    platform::close_fd(fd);
  };
  append(fragment);
  logimpl::attachLogBlock(&block_, nullptr, nullptr, true);
  write(f, "second");
  EXPECT_EQ(line("first") + line("second"), contents("a.0")) << "the size did not match: the tail was cut";
  const std::int32_t after_second = f->entry()->end_size;
  EXPECT_EQ(after_second, static_cast<std::int32_t>(contents("a.0").size()));

  append(fragment);
  f->entry()->end_size = after_second + static_cast<std::int32_t>(fragment.size());
  logimpl::attachLogBlock(&block_, nullptr, nullptr, true);
  write(f, "third");
  EXPECT_EQ(line("first") + line("second") + fragment + line("third"), contents("a.0"))
      << "the size matched: the end was not read";

  // A switch starts the next file with no size known; its next record tells it again.
  f->entry()->end_size = 12345;
  f->setFileLimit(501);
  for (int i = 0; i < 8 && f->entry()->file_number == 0; ++i) write(f, std::string(100, 'x'));
  ASSERT_EQ(f->entry()->file_number, 1);
  EXPECT_NE(f->entry()->end_size, 12345);
  write(f, "in the next file");
  EXPECT_EQ(f->entry()->end_size, static_cast<std::int32_t>(contents("a.1").size()));
}

TEST_F(LogFileTest, TheLongestLogDirectoryKeepsEveryFileNameWhole) {
  std::string deep = dir_.path() + "/";
  deep += std::string(memlgqk_longest_log_directory() - deep.size(), 'd');
  testsupport::make_dirs(deep);
  setLogDirectory(deep);
  logimpl::attachLogBlock(&block_, nullptr, nullptr, true);
  LogFile* f = open("long.%1");
  f->setFileLimit(100);
  write(f, "zero");
  write(f, "one");  // the first file is above its limit: the next is begun
  EXPECT_EQ(line("zero"), testsupport::read_file(deep + "/long.0"));
  EXPECT_EQ(line("one"), testsupport::read_file(deep + "/long.1"));
}

TEST_F(LogFileTest, ARemovedLogDirectoryIsMadeAgain) {
  LogFile* f = open("d.%1", 0x10000, "sub");
  write(f, "before");
  fs::remove_all(dir_.path());
  write(f, "after");
  EXPECT_EQ(line("after"), contents("sub/d.0"));
  // The first open of an entry after the folder went makes it again too.
  fs::remove_all(dir_.path());
  write(open("e.%1", 0x10000, "new/deeper"), "first");
  EXPECT_EQ(line("first"), contents("new/deeper/e.0"));
}

// Lifts the test's file-size limit when the test ends, however it ends.
struct FileSizeLimit {
  ~FileSizeLimit() { platform::testing::set_file_size_limit(-1); }
};

// Room for the first record and part of the second: the part is taken back, and as the
// limit is this process's own, no other file is touched.
void LogFileTest::checkFileSizeLimit(void (*set_limit)(long long)) {
  LogFile* f = open("r.%1");
  entry(0).size_limit = 0;  // no size rule: only the limit stops a write
  testsupport::write_file(dir_ / "r.1", line("older"));
  set_limit(static_cast<long long>(line("first").size()) + 40);
  write(f, "first");
  testing::internal::CaptureStderr();
  write(f, "second");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(line("first"), contents("r.0"));
  EXPECT_EQ(line("older"), contents("r.1"));
  EXPECT_EQ(0, entry(0).file_number);

  set_limit(-1);
  write(f, "back");
  EXPECT_EQ(line("first") + kLostLine + "1 messages. Last reason was: " + error_text(EFBIG) + "\n" +
                line("back"),
            contents("r.0"));
}

// The process lives on: the logger has made the write fail rather than raise the signal
// that ends it.
TEST_F(LogFileTest, AFileSizeLimitFailsTheWriteWithoutTearingALineOrSwitching) {
  FileSizeLimit lifted_at_end;
  if (!platform::testing::set_file_size_limit(-1)) GTEST_SKIP() << "no file-size limit here";
  checkFileSizeLimit([](long long bytes) { platform::testing::set_file_size_limit(bytes); });
}

TEST_F(LogFileTest, AFileSizeLimitThroughTheTableFailsTheWriteWithoutTearingALineOrSwitching) {
  platform::ScopedSystemCalls seam;
  seam.files().write = testsupport::size_limited_write;
  testsupport::ScopedOverride<long long> lifted_at_end(testsupport::seam_size_limit, -1);
  checkFileSizeLimit([](long long bytes) { testsupport::seam_size_limit = bytes; });
}

TEST_F(LogFileTest, StandardErrorOnlyTouchesNoFile) {
  logimpl::attachLogBlock(&block_, nullptr, nullptr, false);
  LogFile* f = open("s.%1");
  testing::internal::CaptureStderr();
  write(f, "to stderr");
  EXPECT_EQ("LoggerQK: " + line("to stderr"), testing::internal::GetCapturedStderr());
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(LogFileTest, NumbersAndTextsFromOtherProcessesAreChecked) {
  // A foreign entry whose texts fill their fields without an end.
  std::memset(entry(0).directory, 'x', 128);
  LogFile* f = open("n.%1");
  ASSERT_STREQ("n.%1", entry(1).pattern);
  entry(1).size_limit = -1;  // no size rule
  for (std::int32_t number : {INT_MAX, INT_MIN, -7}) {
    entry(1).file_number = number;
    write(f, std::to_string(number));
  }
  EXPECT_EQ(line(std::to_string(INT_MAX)), contents("n.7"));
  EXPECT_EQ(line(std::to_string(INT_MIN)), contents("n.2"));
  EXPECT_EQ(line("-7"), contents("n.3"));
  // The count wraps rather than overflows when a rule switches past the largest number.
  entry(1).file_number = INT_MAX;
  entry(1).max_records = 1;
  entry(1).records = 5;
  write(f, "wrapped");
  EXPECT_EQ(INT_MIN, entry(1).file_number);
  EXPECT_EQ(line("wrapped"), contents("n.2"));
  for (const auto& item : fs::directory_iterator(dir_.path())) {
    const std::string name = item.path().filename().string();
    EXPECT_TRUE(name.size() == 3 && name.compare(0, 2, "n.") == 0) << name;
  }
}

void* noMemory(std::size_t) { return nullptr; }

TEST_F(LogFileTest, LongLinesWithoutMemoryAreCut) {
  LogFile* f = open("m.%1");
  const std::string text(300, 'm');
  write(f, text);  // allocated
  {
    testsupport::ScopedOverride<decltype(logimpl::allocateLine)> no_memory(logimpl::allocateLine, noMemory);
    write(f, text);
    write(f, std::string(152, 'k'));  // the longest text that fits the static buffer
  }
  EXPECT_EQ(line(text) + line(std::string(132, 'm') + "...TRUNCATED - NOMEM") +
                line(std::string(152, 'k')),
            contents("m.0"));
}

TEST_F(LogFileTest, EchoDescriptorGetsPrefixSpaceTextInOneLine) {
  const std::string echo_path = dir_ / "echo";
  const int fd = platform::open_append(echo_path.c_str());
  ASSERT_GE(fd, 0);
  LogSink* sink = existingDefaultSink();
  ASSERT_NE(nullptr, sink);
  logimpl::attachLogBlock(&block_, nullptr, nullptr, false);  // the record to stderr
  testing::internal::CaptureStderr();
  writeRecord(sink, ERROR, "dir/echoer", 31, "echo me", 7, fd, nullptr, 0);
  const std::string err = testing::internal::GetCapturedStderr();
  platform::close_fd(fd);
  ASSERT_GT(err.size(), 10u + 99u);
  const std::string prefix = err.substr(10, 99);
  EXPECT_EQ(prefix + " echo me\n", contents("echo"));
}

void setFilter(LogFilterEntry& entry, std::uint32_t kind, std::int32_t level, std::int32_t pid,
               const char* name) {
  entry.kind = kind;
  entry.level = level;
  entry.process_id = pid;
  std::memset(entry.name, 0, sizeof entry.name);
  std::strncpy(entry.name, name, sizeof entry.name - 1);
}

TEST_F(LogFileTest, SharedFiltersLetChosenMessagesThrough) {
  LogSink* sink = existingDefaultSink();
  ASSERT_NE(nullptr, sink);
  const int saved = stdlog->level();
  stdlog->setLevel(MINIMUM);
  // Each change is told as every writer of the table tells it.
  auto changed = [this] { memlgqk_filters_changed(&block_); };
  EXPECT_FALSE(sink->wants("src/Brimvale", 1, MILESTONE));
  setFilter(block_.filters[3], LOG_FILTER_SOURCE_FILE, 91, 0, "Brimvale");
  changed();
  EXPECT_TRUE(sink->wants("src/Brimvale", 1, MILESTONE));  // rank 90 below 91
  EXPECT_FALSE(sink->wants("src/Brimvale", 1, 91));        // strictly below
  EXPECT_FALSE(sink->wants("src/Other", 1, MILESTONE));
  block_.filters[3].level = 90;
  changed();
  EXPECT_FALSE(sink->wants("src/Brimvale", 1, MILESTONE));

  setFilter(block_.filters[0], LOG_FILTER_PROCESS_ID, 300, log_process.pid, "");
  changed();
  EXPECT_TRUE(sink->wants("any", 1, VERBOSE));
  setFilter(block_.filters[0], LOG_FILTER_PROCESS_ID, 300, log_process.pid + 1, "");
  changed();
  EXPECT_FALSE(sink->wants("any", 1, VERBOSE)) << "another process's entry";
  setFilter(block_.filters[0], LOG_FILTER_PROCESS_NAME, 300, 0, shownProcessName());
  changed();
  EXPECT_TRUE(sink->wants("any", 1, VERBOSE));
  setFilter(block_.filters[0], 9, 100, 0, "");
  changed();
  EXPECT_TRUE(sink->wants("any", 1, INFORMATION));
  EXPECT_FALSE(sink->wants("any", 1, TRACE));
  block_.filters[0].kind = LOG_FILTER_FREE;
  changed();

  block_.filter_busy = 1;  // a party is changing the table: everything passes
  changed();
  EXPECT_TRUE(sink->wants("any", 1, VERBOSE));
  block_.filter_busy = 0;
  changed();
  EXPECT_FALSE(sink->wants("any", 1, VERBOSE));

  block_.filters[3].level = 91;
  changed();
  EXPECT_FALSE(stdlog->removeFileFilter("Brimvale", 2));
  EXPECT_TRUE(stdlog->removeFileFilter("Brimvale", 3));  // tells the change itself
  EXPECT_EQ(LOG_FILTER_FREE, block_.filters[3].kind);
  EXPECT_STREQ("", block_.filters[3].name);
  EXPECT_FALSE(sink->wants("src/Brimvale", 1, MILESTONE));
  EXPECT_FALSE(stdlog->removeFileFilter("Brimvale", 0));
  stdlog->setLevel(saved);
}

TEST_F(LogFileTest, AVerdictHoldsUntilTheFilterGenerationMoves) {
  LogSink* sink = existingDefaultSink();
  ASSERT_NE(nullptr, sink);
  const int saved = stdlog->level();
  stdlog->setLevel(MINIMUM);
  // A new block's generation is 0, and a verdict was never kept for it: the first test
  // reads the table.
  ASSERT_EQ(block_.filter_generation, 0u);
  setFilter(block_.filters[7], LOG_FILTER_PROCESS_ID, 251, log_process.pid, "");
  EXPECT_TRUE(sink->wants("any", 1, VERBOSE));

  // A change not told is not read: the verdict stays until the number moves.
  block_.filters[7].kind = LOG_FILTER_FREE;
  EXPECT_TRUE(sink->wants("any", 1, VERBOSE));
  memlgqk_filters_changed(&block_);
  EXPECT_FALSE(sink->wants("any", 1, VERBOSE));

  // Any number will do, the highest and its wrap to 0 included: only a change counts.
  for (std::uint32_t generation : {0xFFFFFFFFu, 0x80000000u, 7u}) {
    setFilter(block_.filters[7], LOG_FILTER_SOURCE_FILE, 201, 0, "Brimvale");
    block_.filter_generation = generation;
    EXPECT_TRUE(sink->wants("src/Brimvale", 1, TRACE)) << generation;
    EXPECT_FALSE(sink->wants("src/Other", 1, TRACE)) << generation;
    block_.filters[7].kind = LOG_FILTER_FREE;
    memlgqk_filters_changed(&block_);
    EXPECT_EQ(block_.filter_generation, generation + 1);
    EXPECT_FALSE(sink->wants("src/Brimvale", 1, TRACE)) << generation + 1;
  }

  // Levels beyond every rank, and at or below 0, pass all and nothing.
  setFilter(block_.filters[7], LOG_FILTER_PROCESS_NAME, 0x7FFFFFFF, 0, shownProcessName());
  setFilter(block_.filters[8], LOG_FILTER_SOURCE_FILE, -5, 0, "Brimvale");
  memlgqk_filters_changed(&block_);
  EXPECT_TRUE(sink->wants("any", 1, 0x7FFF));
  block_.filters[7].level = 0;
  memlgqk_filters_changed(&block_);
  EXPECT_FALSE(sink->wants("src/Brimvale", 1, MINIMUM + 1));
  block_.filters[7].kind = block_.filters[8].kind = LOG_FILTER_FREE;
  memlgqk_filters_changed(&block_);
  EXPECT_FALSE(sink->wants("any", 1, VERBOSE));

  // Attaching a block forgets the verdict kept for the one before.
  setFilter(block_.filters[2], LOG_FILTER_PROCESS_ID, 251, log_process.pid, "");
  EXPECT_FALSE(sink->wants("any", 1, VERBOSE)) << "not told yet";
  MEMORY_LGQK* block = logimpl::logBlock();
  logimpl::attachLogBlock(block, nullptr, nullptr, false);
  EXPECT_TRUE(sink->wants("any", 1, VERBOSE));
  block_.filters[2].kind = LOG_FILTER_FREE;
  memlgqk_filters_changed(&block_);
  stdlog->setLevel(saved);
}

// Threads testing levels while another changes the table: every thread sees each change
// once it is told, and none keeps a verdict of a generation before.
TEST_F(LogFileTest, ThreadsSeeEveryToldChange) {
  LogSink* sink = existingDefaultSink();
  ASSERT_NE(nullptr, sink);
  const int saved = stdlog->level();
  stdlog->setLevel(MINIMUM);
  const int threads = 4, rounds = 300;
  std::atomic<int> round{0};
  std::atomic<int> seen[threads] = {};
  std::atomic<int> stale{0};
  std::vector<std::thread> testers;
  for (int t = 0; t < threads; ++t) {
    testers.emplace_back([&, t] {
      for (int last = 0; last < rounds;) {
        const int r = round.load();
        if (r == last) {
          std::this_thread::yield();
          continue;
        }
        // Odd rounds hold a filter for this process, even rounds none; the table stays
        // as it is until every thread has tested it.
        if (sink->wants("any", 1, VERBOSE) != (r % 2 == 1)) ++stale;
        seen[t] = last = r;
      }
    });
  }
  for (int r = 1; r <= rounds; ++r) {
    if (r % 2 == 1)
      setFilter(block_.filters[5], LOG_FILTER_PROCESS_ID, 251, log_process.pid, "");
    else
      block_.filters[5].kind = LOG_FILTER_FREE;
    memlgqk_filters_changed(&block_);
    round = r;
    for (int t = 0; t < threads; ++t)
      while (seen[t] < r) std::this_thread::yield();
  }
  for (auto& t : testers) t.join();
  EXPECT_EQ(stale, 0);
  stdlog->setLevel(saved);
}

// --- Fatal errors of the file side, each in a child process ---------------------------------

MEMORY_LGQK child_block;

// The child's block has the log directory named by QK_TEST_LOG_DIR.
void attachChildBlock() {
  const char* env_dir = platform::get_env("QK_TEST_LOG_DIR");
  const std::string dir = env_dir ? env_dir : ".";
  std::memcpy(child_block.log_directory, dir.data(), dir.size());
  logimpl::attachLogBlock(&child_block, nullptr, nullptr, true);
}

TEST(DISABLED_ChildScenario, FileTableFull) {
  attachChildBlock();
  for (int i = 0; i <= LOG_FILE_TABLE_ENTRIES; ++i)
    LogFile::open(".", ("f" + std::to_string(i) + ".%1").c_str(), 0);
}

TEST(DISABLED_ChildScenario, UncreatableLogFile) {
  attachChildBlock();
  LogFile::open(".", "missing/x.%1", 0);
}

TEST(DISABLED_ChildScenario, DirectoryIsAFile) {
  attachChildBlock();
  LogFile::open("plain", "x.%1", 0);
}

TEST(LogFileFatal, TableFullUncreatableFileAndDirectory) {
  testsupport::TempDir dir;
  ScopedEnv log_dir("QK_TEST_LOG_DIR", dir.path().c_str());
  const int code = testsupport::observed_exit_code(999);

  testsupport::Run r = testsupport::run_child("FileTableFull");
  EXPECT_EQ(code, static_cast<int>(r.exit_code));
  EXPECT_EQ("\nLOGGER:  File table full", r.err);

  r = testsupport::run_child("UncreatableLogFile");
  EXPECT_EQ(code, static_cast<int>(r.exit_code));
  const std::string path = dir.path() + "/./missing/x.0";
  EXPECT_EQ("\nLOGGER:  couldn't create log file  " + path + "   " + error_text(2), r.err);

  testsupport::write_file(dir / "plain", "not a folder");
  r = testsupport::run_child("DirectoryIsAFile");
  EXPECT_EQ(code, static_cast<int>(r.exit_code));
  EXPECT_EQ("\nLOGGER:  File  " + dir.path() + "/plain  is not a directory for some reason", r.err);
}

}  // namespace
