// The shared log block: its layout as other programs write it, the filter table, the
// choice of the log directory, and its mutex. The block is made once per process, so each
// creation runs in a child copy of this program (the disabled suite MemlgqkChild).
#include "log/memlgqk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "log/detail/logstate.h"
#include "log/fixed_field.h"
#include "log/logger.h"
#include "platform/files/files.h"
#include "platform/process/process.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

namespace {

using testsupport::run_child;
using testsupport::ScopedEnv;
using testsupport::TempDir;

const int kFatalExit = testsupport::observed_exit_code(999);

// --- Children --------------------------------------------------------------------------

void printBlock(const MEMORY_LGQK* block) {
  char dir[LOG_DIRECTORY_MAX + 1];
  std::printf("shared=%d dir=%s marker=%s\n", memlgqk_shared() ? 1 : 0,
              memlgqk_log_directory(block, dir), block->marker);
  std::fflush(stdout);
}

TEST(DISABLED_ChildScenario, Standard) { printBlock(memlgqk_create(MEMLGQK_MODE_STANDARD)); }
TEST(DISABLED_ChildScenario, Bootstrap) { printBlock(memlgqk_create(MEMLGQK_MODE_BOOTSTRAP)); }
TEST(DISABLED_ChildScenario, StderrOnly) { printBlock(memlgqk_create(MEMLGQK_MODE_STDERR_ONLY)); }

TEST(DISABLED_ChildScenario, Destroy) {
  memlgqk_create(MEMLGQK_MODE_STANDARD);
  memlgqk_destroy();
}

TEST(DISABLED_ChildScenario, DieHoldingTheMutex) {
  memlgqk_create(MEMLGQK_MODE_STANDARD);
  memlgqk_lock();
  platform::exit_process_now(0);
}

TEST(DISABLED_ChildScenario, LockAndCount) {
  MEMORY_LGQK* block = memlgqk_create(MEMLGQK_MODE_STANDARD);
  memlgqk_lock();
  std::printf("locked %d\n", ++block->files[0].records);
  memlgqk_unlock();
}

// A block left as a process killed during its start-up left it under the old order of
// things: the marker set, no log directory.
TEST(DISABLED_ChildScenario, LeaveHalfDone) {
  MEMORY_LGQK* block = memlgqk_create(MEMLGQK_MODE_STANDARD);
  memlgqk_lock();
  std::memset(block->log_directory, 0, sizeof block->log_directory);
  memlgqk_unlock();
}

// A short-lived program with a log file named by its process id; with an argument it ends
// without closing it, as a killed process does.
TEST(DISABLED_ChildScenario, OwnFileOnce) {
  LOGGER_QK own(".", "own.%p.%1", 0);
  if (own.isOn("own", 1, ERROR)) {
    own.stream() << "short-lived";
    own.commit();
  }
  if (!testsupport::child_arguments().empty()) platform::exit_process_now(0);
}

// As a user who may write the block would: its log directory becomes the argument.
TEST(DISABLED_ChildScenario, SetBlockDirectory) {
  MEMORY_LGQK* block = memlgqk_create(MEMLGQK_MODE_STANDARD);
  const std::string path = testsupport::child_arguments().at(0);
  memlgqk_lock();
  std::memset(block->log_directory, 0, sizeof block->log_directory);
  std::memcpy(block->log_directory, path.data(), path.size());
  memlgqk_unlock();
}

// A process of the installation that logs one record through stdlog.
TEST(DISABLED_ChildScenario, LogOne) {
  if (stdlog && stdlog->isOn("probe", 1, ERROR)) {
    stdlog->stream() << "one record";
    stdlog->commit();
  }
}

// --- The layout as another program writes it -------------------------------------------

template <typename T>
void put(std::vector<unsigned char>& bytes, std::size_t offset, T value) {
  for (std::size_t i = 0; i < sizeof value; ++i)  // little-endian, as the block is
    bytes[offset + i] = static_cast<unsigned char>(static_cast<unsigned long long>(value) >> (8 * i));
}
void putText(std::vector<unsigned char>& bytes, std::size_t offset, const char* text) {
  std::memcpy(&bytes[offset], text, std::strlen(text) + 1);
}

class BlockBytes : public ::testing::Test {
 protected:
  std::vector<unsigned char> bytes = std::vector<unsigned char>(sizeof(MEMORY_LGQK));
  MEMORY_LGQK* block() { return reinterpret_cast<MEMORY_LGQK*>(bytes.data()); }
  void putFilter(int index, std::uint32_t kind, std::int32_t level, std::int32_t pid, const char* name) {
    std::size_t at = 8164 + 116 * index;
    put(bytes, at, kind);
    put(bytes, at + 4, level);
    put(bytes, at + 8, pid);
    putText(bytes, at + 12, name);
  }
};

TEST_F(BlockBytes, EveryFieldSitsAtItsOffset) {
  ASSERT_EQ(bytes.size(), 10776u);
  std::size_t entry = 7 * 204;
  putText(bytes, entry, "logs");
  putText(bytes, entry + 64, "stdlog.%1");
  put<std::uint32_t>(bytes, entry + 128, 0x1234);
  put<std::int32_t>(bytes, entry + 132, 3);
  put<std::int32_t>(bytes, entry + 136, -5);
  put<std::int32_t>(bytes, entry + 140, 1700000000);
  put<std::int32_t>(bytes, entry + 144, 42);
  put<std::int32_t>(bytes, entry + 148, 9);
  put<std::int32_t>(bytes, entry + 152, 100000);
  put<std::int32_t>(bytes, entry + 156, -1);
  put<std::int32_t>(bytes, entry + 160, 30);
  put<std::uint32_t>(bytes, entry + 164, 2);
  put<std::uint32_t>(bytes, entry + 168, 4711);
  put<std::uint32_t>(bytes, entry + 196, 815);
  put<unsigned char>(bytes, entry + 200, 0x5A);
  put<std::uint32_t>(bytes, 8160, 1);
  putFilter(19, 2, 91, 4711, "Brimvale");
  putText(bytes, 10484, "/var/log/qk");
  put<std::uint32_t>(bytes, 10744, 0xA1B2C3D4u);
  put<std::int32_t>(bytes, 10760, -3600);
  put<std::int32_t>(bytes, 10764, 250);
  putText(bytes, 10768, "LOGMEM");

  const LogFileTableEntry& e = block()->files[7];
  EXPECT_STREQ(e.directory, "logs");
  EXPECT_STREQ(e.pattern, "stdlog.%1");
  EXPECT_EQ(e.options, 0x1234u);
  EXPECT_EQ(e.open_count, 3);
  EXPECT_EQ(e.file_number, -5);
  EXPECT_EQ(e.start_time, 1700000000);
  EXPECT_EQ(e.records, 42);
  EXPECT_EQ(e.reserved1, 9);
  EXPECT_EQ(e.size_limit, 100000);
  EXPECT_EQ(e.max_records, -1);
  EXPECT_EQ(e.file_days, 30);
  EXPECT_EQ(e.limit_holds, 2u);
  EXPECT_EQ(e.holders[0], 4711u);
  EXPECT_EQ(e.holders[7], 815u);
  EXPECT_EQ(e.end_size, 0x5A);
  EXPECT_EQ(block()->filter_busy, 1u);
  const LogFilterEntry& f = block()->filters[19];
  EXPECT_EQ(f.kind, 2u);
  EXPECT_EQ(f.level, 91);
  EXPECT_EQ(f.process_id, 4711);
  EXPECT_STREQ(f.name, "Brimvale");
  EXPECT_STREQ(block()->log_directory, "/var/log/qk");
  EXPECT_EQ(block()->filter_generation, 0xA1B2C3D4u);
  EXPECT_EQ(memlgqk_filter_generation(block()), 0xA1B2C3D4u);
  EXPECT_EQ(block()->time_offset_seconds, -3600);
  EXPECT_EQ(block()->time_offset_milliseconds, 250);
  EXPECT_STREQ(block()->marker, "LOGMEM");
}

TEST_F(BlockBytes, SourceFileFilterPassesRanksBelowItsLevel) {
  putFilter(4, LOG_FILTER_SOURCE_FILE, 91, 0, "Brimvale");
  EXPECT_TRUE(memlgqk_filter_passes(block(), "Brimvale", MILESTONE & 0x7FFF, 1, "proc"));
  EXPECT_FALSE(memlgqk_filter_passes(block(), "Brimvale", TRACE, 1, "proc"));
  EXPECT_FALSE(memlgqk_filter_passes(block(), "brimvale", MILESTONE, 1, "proc")) << "exact case";
  EXPECT_FALSE(memlgqk_filter_passes(block(), "Brimvale.cpp", MILESTONE, 1, "proc"));
  putFilter(4, LOG_FILTER_SOURCE_FILE, 90, 0, "Brimvale");
  EXPECT_FALSE(memlgqk_filter_passes(block(), "Brimvale", MILESTONE, 1, "proc"));
}

TEST_F(BlockBytes, ProcessFiltersAndCatchAll) {
  putFilter(0, LOG_FILTER_PROCESS_ID, 201, 4711, "");
  putFilter(1, LOG_FILTER_PROCESS_NAME, 251, 0, "Loader");
  EXPECT_TRUE(memlgqk_filter_passes(block(), "x", TRACE, 4711, "other"));
  EXPECT_FALSE(memlgqk_filter_passes(block(), "x", TRACE, 4712, "other"));
  EXPECT_TRUE(memlgqk_filter_passes(block(), "x", VERBOSE, 4712, "Loader"));
  EXPECT_FALSE(memlgqk_filter_passes(block(), "x", VERBOSE, 4712, "Loader2"));
  putFilter(2, 77, 100, 0, "");
  EXPECT_TRUE(memlgqk_filter_passes(block(), "y", MILESTONE, 1, "z")) << "kinds above 3 match all";
  EXPECT_FALSE(memlgqk_filter_passes(block(), "y", 100, 1, "z"));
}

TEST_F(BlockBytes, BusyWordPassesWithoutReadingTheTable) {
  put<std::uint32_t>(bytes, 8160, 0xFFFFFFFFu);
  EXPECT_TRUE(memlgqk_filter_passes(block(), "x", VERBOSE, 1, "p"));
  EXPECT_FALSE(memlgqk_filter_matches(block(), "x", VERBOSE, 1, "p"));
}

TEST_F(BlockBytes, NamesWithoutZeroByteAreReadWithinTheirField) {
  std::string full(104, 'n');
  putFilter(0, LOG_FILTER_SOURCE_FILE, 1000, 0, "");
  std::memset(&bytes[8164 + 12], 'n', 104);  // no zero byte; the next entry's kind follows
  putFilter(1, 0x6E6E6E6Eu, 0, 0, "");         // "nnnn" as a kind, level 0: passes nothing
  EXPECT_TRUE(memlgqk_filter_passes(block(), full.c_str(), VERBOSE, 1, "p"));
  EXPECT_FALSE(memlgqk_filter_passes(block(), (full + "n").c_str(), VERBOSE, 1, "p"));

  std::memset(&bytes[10484], 'd', 276);
  char dir[LOG_DIRECTORY_MAX + 1];
  EXPECT_EQ(std::string(memlgqk_log_directory(block(), dir)), std::string(259, 'd'));
}

TEST(FixedField, TextsAreStoredCutAndZeroFilledAndReadWithinTheField) {
  char field[6];
  std::memset(field, 'x', sizeof field);
  field_set(field, sizeof field, "abcdefgh");
  EXPECT_EQ(std::string(field, sizeof field), std::string("abcde\0", 6));
  EXPECT_TRUE(field_equals(field, sizeof field, "abcde"));
  EXPECT_FALSE(field_equals(field, sizeof field, "abcdef"));
  EXPECT_FALSE(field_equals(field, sizeof field, nullptr));
  field_set(field, sizeof field, "ab");
  EXPECT_EQ(std::string(field, sizeof field), std::string("ab\0\0\0\0", 6));
  field_set(field, sizeof field, nullptr);
  EXPECT_EQ(field_text(field, sizeof field), "");
  std::memset(field, 'q', sizeof field);  // another program's text without its zero byte
  EXPECT_EQ(field_text(field, sizeof field), "qqqqqq");
  EXPECT_TRUE(field_equals(field, sizeof field, "qqqqqq"));
  EXPECT_FALSE(field_equals(field, sizeof field, "qqqqqqq"));

  EXPECT_EQ(memlgqk_reduced_process_id(1234567), 34567);
  EXPECT_EQ(memlgqk_reduced_process_id(-1234567), 34567);
  EXPECT_EQ(memlgqk_reduced_process_id(99999), 99999);
}

TEST_F(BlockBytes, RemovingAFileFilterClearsTheFirstMatch) {
  putFilter(3, LOG_FILTER_PROCESS_NAME, 300, 0, "Brimvale");
  putFilter(5, LOG_FILTER_SOURCE_FILE, 300, 12, "Brimvale");
  putFilter(6, LOG_FILTER_SOURCE_FILE, 300, 0, "Brimvale");
  put<std::uint32_t>(bytes, 10744, 0xFFFFFFFFu);
  EXPECT_TRUE(memlgqk_remove_file_filter(block(), "Brimvale"));
  EXPECT_EQ(block()->filter_generation, 0u) << "the change is told, the number wrapping";
  EXPECT_EQ(block()->filters[3].kind, 2u);
  EXPECT_EQ(block()->filters[5].kind, 0u);
  EXPECT_EQ(block()->filters[5].process_id, 0);
  EXPECT_STREQ(block()->filters[5].name, "");
  EXPECT_EQ(block()->filters[6].kind, 3u);
  EXPECT_EQ(block()->filter_busy, 0u);
  EXPECT_TRUE(memlgqk_remove_file_filter(block(), "Brimvale"));
  EXPECT_FALSE(memlgqk_remove_file_filter(block(), "Brimvale"));
  EXPECT_EQ(block()->filter_busy, 0u);
}

// --- Creation and the log directory, one child per process ------------------------------

int freshKey() {
  static int counter = 0;
  return static_cast<int>(0x20000000 + (platform::process_id() % 100000) * 100 + ++counter);
}

class BlockCreation : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedEnv root{"QK_ROOT", (dir / "root").c_str()};
  ScopedEnv local{"QK_LOCAL", dir.path().c_str()};
  ScopedEnv site{"QK_SITE", (dir / "site").c_str()};
  ScopedEnv key{"QK_KEY", std::to_string(freshKey()).c_str()};
  ScopedEnv log{"QK_LOG", nullptr};
  ScopedEnv nokey{"QK_LOG_NOKEY", nullptr};
  ScopedEnv trace{"QK_LOGGER_TRACE", nullptr};
};

TEST_F(BlockCreation, LogFolderIsCreatedAndKeptForLaterProcesses) {
  std::string first = dir / "logs";
  {
    ScopedEnv log_dir("QK_LOG", first.c_str());
    testsupport::Run r = run_child("Standard");
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_EQ("shared=1 dir=" + first + " marker=LOGMEM\n", r.out);
  }
  ScopedEnv other("QK_LOG", (dir / "other").c_str());
  testsupport::Run later = run_child("Standard");
  EXPECT_NE(later.out.find("shared=1 dir=" + first + " "), std::string::npos) << later.out;
  EXPECT_FALSE(testsupport::file_exists(dir / "other"));
}

TEST_F(BlockCreation, RootLogFolderWhenNoLogVariable) {
  testsupport::make_dirs(dir / "root");
  testsupport::Run r = run_child("Standard");
  EXPECT_NE(r.out.find("dir=" + dir / "root/log "), std::string::npos) << r.out << r.err;
}

TEST_F(BlockCreation, BackslashesBecomeSlashesAndTheTrailingOneGoes) {
  std::string windows_form = dir / "a/b/";
  for (char& c : windows_form)
    if (c == '/') c = '\\';
  testsupport::make_dirs(dir / "a");
  ScopedEnv log_dir("QK_LOG", windows_form.c_str());
  testsupport::Run r = run_child("Standard");
  EXPECT_NE(r.out.find("dir=" + dir / "a/b "), std::string::npos) << r.out << r.err;
}

TEST_F(BlockCreation, UnusableLogFolderIsFatalAndLeavesTheBlockUninitialised) {
  testsupport::write_file(dir / "plain", "x");
  {
    ScopedEnv log_dir("QK_LOG", (dir / "plain").c_str());
    testsupport::Run r = run_child("Standard");
    EXPECT_EQ(r.exit_code, static_cast<unsigned long>(kFatalExit));
    EXPECT_NE(r.err.find("LOGGER:  " + dir / "plain" +
                         "  QK_LOG path is invalid or inaccessible  log library can't function"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("MEMORY_LGQK"), std::string::npos) << "no trace without QK_LOGGER_TRACE";
  }
  ScopedEnv log_dir("QK_LOG", (dir / "good").c_str());
  testsupport::Run next = run_child("Standard");
  EXPECT_NE(next.out.find("dir=" + dir / "good "), std::string::npos) << "the next one starts over";
}

TEST_F(BlockCreation, TraceTellsWhyAFolderFailed) {
  testsupport::write_file(dir / "plain", "x");
  ScopedEnv t("QK_LOGGER_TRACE", "1");
  ScopedEnv log_dir("QK_LOG", (dir / "plain").c_str());
  // The logger makes the block at start-up, in the mode its program name asks for.
  ScopedEnv bootstrap("QK_TEST_PROGRAM_NAME", "BSTRAP:child");
  testsupport::Run r = run_child("Bootstrap");  // private: falls back to "."
  EXPECT_NE(r.err.find("MEMORY_LGQK: " + dir / "plain" + " is not a directory.\n"), std::string::npos)
      << r.err;
  // "." is kept as the folder it was when the block was made.
  std::string here = platform::current_directory();
  for (char& c : here)
    if (c == '\\') c = '/';
  EXPECT_NE(r.out.find("shared=0 dir=" + here + " "), std::string::npos) << r.out;

  ScopedEnv below_file("QK_LOG", (dir / "plain/sub").c_str());
  r = run_child("Standard");
  EXPECT_NE(r.err.find("MEMORY_LGQK: Directory " + dir / "plain/sub" +
                       " does not exist, and cannot create\n"),
            std::string::npos)
      << r.err;
}

TEST_F(BlockCreation, NoKeyGivesAPrivateBlock) {
  ScopedEnv no_key("QK_KEY", nullptr);
  ScopedEnv nokey_set("QK_LOG_NOKEY", "1");
  testsupport::make_dirs(dir / "root");
  testsupport::Run r = run_child("Standard");
  EXPECT_EQ("shared=0 dir=" + dir / "root/log marker=LOGMEM\n", r.out) << r.err;
  ScopedEnv stderr_only("QK_TEST_PROGRAM_NAME", "BSTRAP:child:stderr");
  r = run_child("StderrOnly");
  EXPECT_EQ("shared=0 dir= marker=LOGMEM\n", r.out) << r.err;
}

// A file left where the site folder belongs keeps the shared block from being had: the
// process says what is in the way and logs to standard error instead of ending.
TEST_F(BlockCreation, ObjectInTheWayOfTheSegmentIsReportedAndLoggingGoesToStandardError) {
  testsupport::write_file(dir / "site", "a file where the site folder should be");
  testsupport::Run r = run_child("Standard");
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  EXPECT_NE(r.err.find("LoggerQK: The installation's shared log cannot be used: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("; remove it. Records go to standard error."), std::string::npos) << r.err;
}

TEST_F(BlockCreation, DestroyingTheBlockIsFatal) {
  ScopedEnv log_dir("QK_LOG", (dir / "logs").c_str());
  testsupport::Run r = run_child("Destroy");
  EXPECT_EQ(r.exit_code, static_cast<unsigned long>(kFatalExit));
  EXPECT_NE(r.err.find("\nLOGGER:  tried to delete a shared memory object"), std::string::npos) << r.err;
}

TEST_F(BlockCreation, MutexOfADeadHolderIsTakenOver) {
  ScopedEnv log_dir("QK_LOG", (dir / "logs").c_str());
  EXPECT_EQ(run_child("DieHoldingTheMutex").exit_code, 0u);
  testsupport::Run r = run_child("LockAndCount");
  EXPECT_EQ(r.exit_code, 0u) << r.err;
  EXPECT_EQ("locked 1\n", r.out);
  r = run_child("LockAndCount");
  EXPECT_EQ("locked 2\n", r.out) << "one block for both";
}

TEST_F(BlockCreation, AHalfDoneBlockIsInitialisedAgain) {
  ScopedEnv log_dir("QK_LOG", (dir / "logs").c_str());
  EXPECT_EQ(run_child("LeaveHalfDone").exit_code, 0u);
  testsupport::Run r = run_child("Standard");
  EXPECT_EQ("shared=1 dir=" + dir / "logs marker=LOGMEM\n", r.out) << r.err;
}

TEST_F(BlockCreation, ARelativeLogFolderIsStoredFromWhereItWasGiven) {
  testsupport::make_dirs(dir / "a");
  testsupport::make_dirs(dir / "b");
  ScopedEnv log_dir("QK_LOG", "./logs");
  const std::string here = platform::current_directory();
  ASSERT_TRUE(platform::change_directory((dir / "a").c_str()));
  std::string expected = platform::current_directory();  // the folder as the system spells it
  testsupport::Run first = run_child("Standard");
  ASSERT_TRUE(platform::change_directory((dir / "b").c_str()));
  testsupport::Run second = run_child("Standard");
  ASSERT_TRUE(platform::change_directory(here.c_str()));
  for (char& c : expected)
    if (c == '\\') c = '/';
  EXPECT_NE(first.out.find("dir=" + expected + "/logs "), std::string::npos) << first.out << first.err;
  EXPECT_NE(second.out.find("dir=" + expected + "/logs "), std::string::npos) << second.out << second.err;
  EXPECT_FALSE(testsupport::file_exists(dir / "b/logs"));
}

TEST_F(BlockCreation, ALogFolderLongerThanTheBlockHoldsIsRefused) {
  // 259 characters fit (fewer where paths are shorter), and the files in it keep their
  // whole names.
  const std::size_t longest = memlgqk_longest_log_directory();
  EXPECT_TRUE(longest == LOG_DIRECTORY_MAX || longest == 259 - std::strlen("/./stdlog.0"));
  std::string fits = dir.path() + "/";
  fits += std::string(longest - fits.size(), 'f');
  {
    ScopedEnv log_dir("QK_LOG", fits.c_str());
    testsupport::Run r = run_child("Standard");
    EXPECT_NE(r.out.find("dir=" + fits + " "), std::string::npos) << r.out << r.err;
  }
  ScopedEnv key_again("QK_KEY", std::to_string(freshKey()).c_str());
  const std::string too_long = fits + "g";
  ScopedEnv log_dir("QK_LOG", too_long.c_str());
  testsupport::Run r = run_child("Standard");
  EXPECT_EQ(r.exit_code, static_cast<unsigned long>(kFatalExit));
  EXPECT_NE(r.err.find("MEMORY_LGQK: Directory " + too_long + " is longer than " + std::to_string(longest) +
                       " characters\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("\nLOGGER:  " + too_long + "  QK_LOG path is inv"), std::string::npos)
      << r.err;  // the fatal message is cut at 300 characters
}

TEST_F(BlockCreation, EntriesOfEndedProcessesAreReusedWhenTheFileTableIsFull) {
  ScopedEnv log_dir("QK_LOG", (dir / "logs").c_str());
  // Each run leaves an entry of its own, more runs than the table has entries: half of
  // them close their file, half end without closing it.
  const int runs = LOG_FILE_TABLE_ENTRIES + 2;
  for (int run = 0; run < runs; ++run) {
    testsupport::ChildOptions options;
    if (run % 2) options.argument("ends without closing");
    testsupport::Run r = run_child("OwnFileOnce", options);
    ASSERT_EQ(r.exit_code, 0u) << "run " << run << ": " << r.err;
    ASSERT_EQ(r.err, "") << "run " << run;
  }
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir / "logs")) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, 4, "own.") != 0) continue;
    ++files;
    const std::string text = testsupport::read_file(entry.path().string());
    EXPECT_NE(text.find("short-lived\n"), std::string::npos) << name;
  }
  EXPECT_EQ(files, runs);
}

#ifndef _WIN32
// A process that runs out of descriptors while it starts says so, at whichever step.
TEST_F(BlockCreation, RunningOutOfDescriptorsAtStartGivesTheTrueReason) {
#if defined(QK_ADDRESS_SANITIZER) || defined(QK_THREAD_SANITIZER)
  // The sanitizers' runtime needs descriptors of its own, and fails first in its own way.
  GTEST_SKIP() << "the sanitizer's runtime needs descriptors of its own";
#endif
  ScopedEnv log_dir("QK_LOG", (dir / "logs").c_str());
  std::string command;
  for (const std::string& part : testsupport::child_command("Standard")) command += " '" + part + "'";
  bool reached_the_segment = false;
  // The descriptors a child inherits differ from runner to runner: the limits run from
  // one that leaves the program no room to be loaded (the shell's 127) to one that serves.
  for (int descriptors = 4; descriptors <= 16; ++descriptors) {
    testsupport::Run r = testsupport::run(
        "sh -c " + testsupport::quote_arg("ulimit -n " + std::to_string(descriptors) + " && exec" + command));
    EXPECT_EQ(r.err.find("Cannot allocate memory"), std::string::npos) << descriptors << ": " << r.err;
    if (r.exit_code == 0) break;
    if (r.exit_code == 127) continue;
    EXPECT_EQ(r.exit_code, static_cast<unsigned long>(kFatalExit)) << r.err;
    EXPECT_TRUE(r.err.find("Too many open files") != std::string::npos ||
                r.err.find("Couldn't get my semaphore : 24") != std::string::npos)
        << descriptors << ": " << r.err;
    if (r.err.find("LOGGER: Couldn't get my memory - this process has no file descriptor left: open ") !=
        std::string::npos)
      reached_the_segment = true;
  }
  EXPECT_TRUE(reached_the_segment) << "no limit stopped the process at its segment";
}
#endif

// The names of the stdlog files in the folder.
std::vector<std::string> stdlogFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, 7, "stdlog.") == 0) names.push_back(name);
  }
  return names;
}

testsupport::ChildOptions withArgument(const std::string& argument) {
  return testsupport::ChildOptions().argument(argument);
}

// Whoever may write the block may point it elsewhere; the processes of the installation
// follow only to a folder they could have chosen themselves.
TEST_F(BlockCreation, TheBlocksLogDirectoryIsUsedOnlyWhereTheInstallationsOwnWouldBe) {
  ScopedEnv log_dir("QK_LOG", (dir / "logs").c_str());
  ASSERT_EQ(run_child("LogOne").exit_code, 0u);
  TempDir elsewhere;  // outside every folder of the installation, though this user's own
  testsupport::make_dirs(dir / "root");
  std::vector<std::string> targets = {
      elsewhere.path(), dir / "root/../../" + std::filesystem::path(elsewhere.path()).filename().string()};
#ifndef _WIN32
  std::filesystem::create_directory_symlink(elsewhere.path(), dir / "root/link");
  targets.push_back(dir / "root/link");  // inside the root by its name only
  targets.push_back(dir / "root/link/made");  // and not made there either
#endif
  for (const std::string& target : targets) {
    ASSERT_EQ(run_child("SetBlockDirectory", withArgument(target)).exit_code, 0u);
    testsupport::Run r = run_child("LogOne");
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_NE(r.err.find("LoggerQK: The log directory \"" + target + "\" in the installation's shared block is "
                         "refused: "),
              std::string::npos)
        << target << ": " << r.err;
    EXPECT_NE(r.err.find("one record"), std::string::npos) << "the record goes to standard error";
    EXPECT_TRUE(stdlogFiles(elsewhere.path()).empty()) << target;
  }
  EXPECT_FALSE(testsupport::file_exists(elsewhere / "made"));
  // A folder inside the installation serves.
  testsupport::make_dirs(dir / "root/moved");
  ASSERT_EQ(run_child("SetBlockDirectory", withArgument(dir / "root/moved")).exit_code, 0u);
  testsupport::Run r = run_child("LogOne");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(stdlogFiles(dir / "root/moved").size(), 1u);
}

TEST_F(BlockCreation, ARemovedLogDirectoryIsMadeAgainByANewProcess) {
  ScopedEnv log_dir("QK_LOG", (dir / "logs").c_str());
  ASSERT_EQ(run_child("LogOne").exit_code, 0u);
  std::filesystem::remove_all(dir / "logs");
  testsupport::Run r = run_child("LogOne");
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(stdlogFiles(dir / "logs").size(), 1u);
  EXPECT_NE(testsupport::read_file(dir / "logs" + "/" + stdlogFiles(dir / "logs")[0]).find("one record"),
            std::string::npos);
  // Only the folder itself is made, below a parent that is there.
  ASSERT_FALSE(testsupport::file_exists(dir / "root"));
  ASSERT_EQ(run_child("SetBlockDirectory", withArgument(dir / "root/log")).exit_code, 0u);
  r = run_child("LogOne");
  EXPECT_NE(r.err.find("is refused: "), std::string::npos) << r.err;
  EXPECT_FALSE(testsupport::file_exists(dir / "root"));
}

TEST_F(BlockCreation, AnotherLogSettingIsToldOnceAtWarningNamingBothFolders) {
  ScopedEnv level("QK_LOG_LEVEL", "WARNING");
  {
    ScopedEnv log_dir("QK_LOG", (dir / "first").c_str());
    ASSERT_EQ(run_child("LogOne").exit_code, 0u);
  }
  ScopedEnv log_dir("QK_LOG", (dir / "second").c_str());
  testsupport::Run r = run_child("LogOne");
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> files = stdlogFiles(dir / "first");
  ASSERT_EQ(files.size(), 1u);
  const std::string text = testsupport::read_file(dir / "first" + "/" + files[0]);
  const std::string notice = "QK_LOG names " + dir / "second" + ", but the installation logs into " +
                             dir / "first" + ", chosen when its shared log block was made";
  const std::size_t at = text.find(notice);
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_EQ(text.find(notice, at + 1), std::string::npos) << "once";
  EXPECT_NE(text.rfind("WARNING", at), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << "two records and the warning:\n" << text;
  EXPECT_FALSE(testsupport::file_exists(dir / "second"));
}

// Settings whose values the start-up ignores are told once per process, at WARNING,
// with the value and what is used instead.
TEST_F(BlockCreation, IgnoredLevelAndLimitSettingsAreToldOncePerProcess) {
  ScopedEnv log_dir("QK_LOG", (dir / "logs").c_str());
  ScopedEnv mode_level("QK_LOG_LEVEL_STD", "LOUDEST");
  ScopedEnv level("QK_LOG_LEVEL", "WARNING");
  ScopedEnv limit("QK_LOGFILE_LIMIT", "500");
  for (int run = 0; run < 2; ++run) ASSERT_EQ(run_child("LogOne").exit_code, 0u);
  const std::vector<std::string> files = stdlogFiles(dir / "logs");
  ASSERT_EQ(files.size(), 1u);
  const std::string text = testsupport::read_file(dir / "logs/" + files[0]);
  const std::string bad_level =
      "QK_LOG_LEVEL_STD=LOUDEST names no level (a name such as WARNING, MILESTONE, TRACE or VERBOSE, or a number "
      "of at least 50); the threshold is 70, from QK_LOG_LEVEL\n";
  const std::string bad_limit =
      "QK_LOGFILE_LIMIT=500 is not a number of bytes above 500; ignored: log files switch at their default size "
      "(100000 bytes for stdlog)\n";
  for (const std::string& notice : {bad_level, bad_limit}) {
    const std::size_t first = text.find(notice);
    ASSERT_NE(first, std::string::npos) << text;
    const std::size_t second = text.find(notice, first + 1);
    ASSERT_NE(second, std::string::npos) << "once in each of the two processes:\n" << text;
    EXPECT_EQ(text.find(notice, second + 1), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.rfind('\n', first) + 1 + 59, 13), "WARNING      ") << text;
  }

  // A mode setting below the floor is refused without falling back to QK_LOG_LEVEL; the
  // default threshold lets the warning through only by a filter, so it is checked here
  // through the notices the start-up makes.
  ScopedEnv low("QK_LOG_LEVEL_STD", "ERROR");
  ScopedEnv good_limit("QK_LOGFILE_LIMIT", "501");
  std::vector<std::string> notices;
  EXPECT_EQ(0, environmentThreshold(LOG_MODE_STANDARD, &notices));
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0],
            "QK_LOG_LEVEL_STD=ERROR gives 40, below ABS_MINIMUM (50), the lowest threshold; the threshold is the "
            "default, MINIMUM (60)");
  notices.clear();
  ScopedEnv fine("QK_LOG_LEVEL_STD", "trace");
  EXPECT_EQ(200, environmentThreshold(LOG_MODE_STANDARD, &notices));
  EXPECT_TRUE(notices.empty());
  ScopedEnv word_limit("QK_LOGFILE_LIMIT", "big");
  ScopedEnv fatal_level("QK_LOG_LEVEL_BSTRAP", "fatal");
  ScopedEnv general("QK_LOG_LEVEL", "none");
  EXPECT_EQ(0, environmentThreshold(LOG_MODE_BOOTSTRAP, &notices));
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].rfind("QK_LOG_LEVEL_BSTRAP=fatal gives 0, below ABS_MINIMUM (50)", 0), 0u) << notices[0];
  EXPECT_EQ(notices[1].rfind("QK_LOG_LEVEL=none names no level", 0), 0u) << notices[1];
  EXPECT_EQ(notices[2].rfind("QK_LOGFILE_LIMIT=big is not a number of bytes above 500", 0), 0u) << notices[2];
}

TEST_F(BlockCreation, KeysThatNameNoSharedBlockAreRefused) {
  ScopedEnv log_dir("QK_LOG", (dir / "logs").c_str());
  for (const char* value : {"2147483647", "0x80000000", "0xffffffff", "4294967295", "4294967296",
                            "99999999999999999999", "\xC3\xA9t\xC3\xA9"}) {
    ScopedEnv key_value("QK_KEY", value);
    testsupport::Run r = run_child("Standard");
    EXPECT_EQ(r.exit_code, static_cast<unsigned long>(kFatalExit)) << value;
    EXPECT_EQ("\nLOGGER: QK_KEY " + std::string(value) +
                  " is no installation key: give a number from 0 to 2147483646 or a text whose first four "
                  "characters are plain ASCII",
              r.err)
        << value;
  }
  // The largest key still names a block of its own.
  ScopedEnv largest("QK_KEY", "2147483646");
  testsupport::Run r = run_child("Standard");
  EXPECT_NE(r.out.find("shared=1 dir=" + dir / "logs "), std::string::npos) << r.out << r.err;
}

}  // namespace
