// Processes of one installation logging while things go wrong: threads of one process,
// one process that fails on its own (out of descriptors, at its file-size limit, with a
// record larger than a file may hold), a full disk, writers that die in the middle of a
// record. Nothing written and acknowledged is ever lost, no line ever holds two records,
// and every record that could not be written is counted and reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "env/qkos.h"
#include "log/logger.h"
#include "tests/support/seam_faults.h"
#include "tests/support/test_child.h"
#include "platform/environment/environment.h"
#include "platform/files/file_calls.h"
#include "platform/named_lock/named_lock.h"
#include "platform/files/files.h"
#include "platform/testing/file_limit_testing.h"
#include "platform/testing/user_testing.h"
#include "platform/testing/volume_testing.h"
#include "platform/process/process.h"
#include "platform/syserror/syserror.h"
#include "tests/support/testsupport.h"

namespace {

using testsupport::ScopedEnv;
namespace fs = std::filesystem;

// --- The writers, each a child copy of this program -----------------------------------------

// A child's own settings: the file named by its argument "--qk_ft_settings=<path>", one
// "NAME=value" a line.
std::map<std::string, std::string>& settings() {
  static std::map<std::string, std::string> values;
  static bool read = false;
  if (read) return values;
  read = true;
  static const std::string option = "--qk_ft_settings=";
  for (const std::string& arg : testsupport::child_arguments()) {
    if (arg.compare(0, option.size(), option) != 0) continue;
    std::istringstream in(testsupport::read_file(arg.substr(option.size())));
    std::string line;
    while (std::getline(in, line))
      if (line.find('=') != std::string::npos) values[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
  }
  return values;
}

const char* settingText(const char* name) {
  auto found = settings().find(name);
  return found == settings().end() ? nullptr : found->second.c_str();
}

int setting(const char* name, int otherwise) {
  const char* text = settingText(name);
  return text ? std::atoi(text) : otherwise;
}

// "faults <pid> <thread> <sequence> <length>" and 'x' up to the length.
std::string recordText(unsigned long pid, int thread, int sequence, std::size_t length) {
  std::string text = "faults " + std::to_string(pid) + " " + std::to_string(thread) + " " +
                     std::to_string(sequence) + " " + std::to_string(length) + " ";
  if (text.size() < length) text.append(length - text.size(), 'x');
  return text;
}

void writeRecord(LOGGER_QK* log, int thread, int sequence, std::size_t length) {
  if (!log->isOn("faults_test", __LINE__, ERROR)) return;
  log->stream() << recordText(platform::process_id(), thread, sequence, length);
  log->commit();
}

// The calls that fail while the child's fault is on.
bool fault_on = false;
int fault_error = 0;
int faultyOpen(const char* path) {
  if (!fault_on) return platform::open_append(path);
  errno = fault_error;
  return -1;
}
std::string full_flag;  // the disk is full while this file exists
long fullDiskWrite(int fd, const void* data, std::size_t size) {
  platform::FileStatus st;
  if (!platform::file_status(full_flag.c_str(), &st)) return platform::write_fd(fd, data, size);
  errno = ENOSPC;
  return -1;
}
// Half the record reaches the file, then the writer dies.
long dyingWrite(int fd, const void* data, std::size_t size) {
  if (!fault_on) return platform::write_fd(fd, data, size);
  platform::write_fd(fd, data, size / 2);
  platform::exit_process_now(3);
  return -1;
}

// Every wait for a named lock fails while the fault is on, as when the system has no lock
// left to give; otherwise the wait goes to the call the table had.
platform::LockWait (*real_wait)(platform::LockHandle*, unsigned long, platform::SystemError*) = nullptr;
platform::LockWait refusedWait(platform::LockHandle* lock, unsigned long timeout_ms, platform::SystemError* why) {
  if (!fault_on) return real_wait(lock, timeout_ms, why);
  *why = platform::SystemError{ENOLCK, "wait for the block's mutex", std::string(), false, true};
  return platform::LockWait::failed;
}

// Faults of the logger's start-up, which runs before any test does: from QK_FT_START_FAULT,
// "create" (the block's mutex cannot be made), "in_the_way" (an object of another user
// stands where it belongs) or "wait" (it is made but cannot be waited for). Installed
// before the logger starts (only the test installation comes first) and kept.
platform::LockHandle* refusedOpen(const std::string& name, platform::NamedLock::Access, const std::string& folder,
                                  platform::SystemError* why) {
  const bool in_the_way = std::strcmp(platform::get_env("QK_FT_START_FAULT"), "in_the_way") == 0;
  *why = platform::SystemError{static_cast<unsigned long>(in_the_way ? EACCES : ENOSPC),
                               "open " + folder + "/" + name + ".lock", in_the_way ? "remove it" : "", in_the_way,
                               true};
  return nullptr;
}

struct StartFaults {
  StartFaults() {
    const char* fault = platform::get_env("QK_FT_START_FAULT");
    if (!fault) return;
    if (std::strcmp(fault, "wait") == 0) {
      real_wait = platform::lock_calls().wait;
      platform::lock_calls().wait = refusedWait;
      fault_on = true;
    } else {
      platform::lock_calls().open = refusedOpen;
    }
  }
};
__attribute__((init_priority(102))) StartFaults start_faults;

// Takes every byte left on the volume of the file.
void fillVolume(const std::string& path) {
  const int fd = platform::open_append(path.c_str());
  const std::string chunk(4096, 'f');
  while (fd >= 0 && platform::write_fd(fd, chunk.data(), chunk.size()) > 0) {
  }
  platform::close_fd(fd);
}

// QK_FT_THREADS threads (own loggers) or stdlog alone write QK_FT_RECORDS records each of
// QK_FT_LENGTH characters. QK_FT_FAULT names what goes wrong from record QK_FT_AT on:
// "emfile" (ten records), "efbig" (ten records past this process's file-size limit),
// "oversize" (one record larger than the limit lets a file grow), the same two through the
// table as "seam_efbig" and "seam_oversize", "lock" (ten records whose wait for the
// block's mutex fails), "die" (the writer dies
// half-way through the record), "killed" (the process ends at a moment of its own,
// whatever it is doing), "full" (writes fail while the file QK_FT_FLAG exists;
// with QK_FT_FLAG_OWNER this writer makes it at the record and removes it 50 later),
// "fill" (with QK_FT_FLAG_OWNER: the file QK_FT_FLAG takes all room left on its volume
// from the record on, for 50 records).
TEST(DISABLED_ChildScenario, FaultWriter) {
  const int records = setting("QK_FT_RECORDS", 0);
  const int threads = setting("QK_FT_THREADS", 0);
  const std::size_t length = static_cast<std::size_t>(setting("QK_FT_LENGTH", 0));
  const int at = setting("QK_FT_AT", -1);
  const std::string fault = settingText("QK_FT_FAULT") ? settingText("QK_FT_FAULT") : "";
  if (threads > 0) {
    std::vector<LOGGER_QK*> loggers;
    for (int t = 0; t < threads; ++t) loggers.push_back(new LOGGER_QK());
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
      running.emplace_back([&, t] {
        for (int i = 0; i < records; ++i) writeRecord(loggers[t], t, i, length);
      });
    for (auto& r : running) r.join();
    for (LOGGER_QK* l : loggers) delete l;
    return;
  }
  platform::ScopedSystemCalls seam;
  if (fault == "emfile") {
    seam.files().open_append = faultyOpen;
    fault_error = EMFILE;
  } else if (fault == "die") {
    seam.files().write = dyingWrite;
  } else if (fault == "full") {
    full_flag = settingText("QK_FT_FLAG");
    seam.files().write = fullDiskWrite;
  } else if (fault == "seam_efbig" || fault == "seam_oversize") {
    seam.files().write = testsupport::size_limited_write;
  } else if (fault == "lock") {
    real_wait = seam.original().locks.wait;
    seam.locks().wait = refusedWait;
  }
  if (fault == "killed") {
    // The process ends at a moment of its own, whatever its writer is doing: in the middle
    // of a long write the system stops it at a page boundary, as a kill does.
    const unsigned delay = 5 + static_cast<unsigned>(platform::process_id() * 7919u % 60u);
    std::thread([delay] {
      platform::sleep_ms(delay);
      platform::exit_process_now(9);
    }).detach();
  }
  const bool owner = settingText("QK_FT_FLAG_OWNER") != nullptr;
  for (int i = 0; i < records; ++i) {
    std::size_t this_length = length;
    if (i == at) {
      fault_on = true;
      if (fault == "efbig") {
        ASSERT_TRUE(platform::testing::set_file_size_limit(1));
      }
      if (fault == "oversize") {
        ASSERT_TRUE(platform::testing::set_file_size_limit(1 << 20));
        this_length = 2 << 20;
      }
      if (fault == "seam_efbig") testsupport::seam_size_limit = 1;
      if (fault == "seam_oversize") {
        testsupport::seam_size_limit = 1 << 20;
        this_length = 2 << 20;
      }
      if (fault == "full" && owner) testsupport::write_file(full_flag, "full");
      if (fault == "fill" && owner) fillVolume(settingText("QK_FT_FLAG"));
    }
    if (i == at + 10) {
      fault_on = false;
      if (fault == "efbig") platform::testing::set_file_size_limit(-1);
      if (fault == "seam_efbig") testsupport::seam_size_limit = -1;
    }
    if (i == at + 1 && fault == "oversize") platform::testing::set_file_size_limit(-1);
    if (i == at + 1 && fault == "seam_oversize") testsupport::seam_size_limit = -1;
    if (i == at + 50 && (fault == "full" || fault == "fill") && owner) std::remove(settingText("QK_FT_FLAG"));
    writeRecord(stdlog, 0, i, this_length);
  }
}

// --- What the files hold ----------------------------------------------------------------------

struct Record {
  unsigned long pid;
  int thread;
  int sequence;
  bool operator<(const Record& o) const {
    return pid != o.pid ? pid < o.pid : thread != o.thread ? thread < o.thread : sequence < o.sequence;
  }
};

// One line read as a record, whole; false when it is anything else.
bool parseRecord(const std::string& text, Record* r) {
  int used = 0;
  std::size_t length = 0;
  if (std::sscanf(text.c_str(), "faults %lu %d %d %zu %n", &r->pid, &r->thread, &r->sequence, &length, &used) != 4)
    return false;
  return text.size() == std::max(length, static_cast<std::size_t>(used)) &&
         text.find_first_not_of('x', static_cast<std::size_t>(used)) == std::string::npos;
}

const char kLostMarker[] = "==========> Was unable to write the last ";

struct Files {
  std::vector<std::string> bad;    // lines that are neither a whole record nor a lost-record line
  std::multiset<Record> records;
  long long reported_lost = 0;     // the sum of the lost-record lines' counts
  std::size_t torn_tails = 0;     // files ending in a line without its line feed
};

Files readFiles(const std::string& dir) {
  Files files;
  for (const auto& item : fs::directory_iterator(dir)) {
    if (item.path().filename().string().compare(0, 7, "stdlog.") != 0) continue;
    std::string content = testsupport::read_file(item.path().string());
    if (content.find('\0') != std::string::npos) files.bad.push_back(item.path().string() + " holds a NUL byte");
    if (!content.empty() && content.back() != '\n') {
      // A writer died in its last record, and no writer came after to cut it.
      ++files.torn_tails;
      content.erase(content.rfind('\n') == std::string::npos ? 0 : content.rfind('\n') + 1);
    }
    std::istringstream in(content);
    std::string line;
    while (std::getline(in, line)) {
      Record r;
      if (line.size() > 99 && line.compare(72, 21, "faults_test          ") == 0 &&
          parseRecord(line.substr(99), &r)) {
        files.records.insert(r);
      } else if (line.size() > 51 && line.compare(51, sizeof kLostMarker - 1, kLostMarker) == 0) {
        files.reported_lost += std::atoll(line.c_str() + 51 + sizeof kLostMarker - 1);
      } else {
        files.bad.push_back(line.substr(0, 300));
      }
    }
  }
  return files;
}

// The records a child reported lost on standard error.
std::vector<Record> lostOnStandardError(const std::string& err) {
  static const std::string tag = "LoggerQK: Unable to write following to logfile: ";
  std::vector<Record> lost;
  std::istringstream in(err);
  std::string line;
  while (std::getline(in, line)) {
    Record r;
    if (line.compare(0, tag.size(), tag) == 0 && line.size() > tag.size() + 99 &&
        parseRecord(line.substr(tag.size() + 99), &r))
      lost.push_back(r);
  }
  return lost;
}

using Settings = std::vector<std::pair<std::string, std::string>>;

class LogFaults : public ::testing::Test {
 protected:
  // Runs one child per entry at once, each with its settings.
  std::vector<testsupport::Run> runAll(const std::vector<Settings>& children) {
    for (std::size_t c = 0; c < children.size(); ++c) {
      std::string text;
      for (const auto& kv : children[c]) text += kv.first + "=" + kv.second + "\n";
      testsupport::write_file(settings_ / ("settings." + std::to_string(c)), text);
    }
    std::vector<testsupport::Run> runs(children.size());
    std::vector<std::thread> threads;
    for (std::size_t c = 0; c < children.size(); ++c)
      threads.emplace_back([c, &runs, this] {
        runs[c] = testsupport::run_child(
            "FaultWriter", testsupport::ChildOptions().argument("--qk_ft_settings=" +
                                                                settings_ / ("settings." + std::to_string(c))));
      });
    for (auto& t : threads) t.join();
    return runs;
  }

  // Which run had which settings: each child names its process id in its records.
  static int freshKey() {
    static int counter = 0;
    return static_cast<int>(0x30000000 + (platform::process_id() % 100000) * 100 + ++counter);
  }

  testsupport::TempDir root_;
  testsupport::TempDir settings_;
  ScopedEnv root_env_{"QK_ROOT", root_.path().c_str()};
  ScopedEnv key_{"QK_KEY", std::to_string(freshKey()).c_str()};
  ScopedEnv log_{"QK_LOG", nullptr};
  ScopedEnv nokey_{"QK_LOG_NOKEY", nullptr};
  ScopedEnv site_{"QK_SITE", nullptr};
  ScopedEnv limit_{"QK_LOGFILE_LIMIT", nullptr};
  std::string log_dir_ = root_ / "log";

  void checkFullDisk(const std::string& fault, const std::string& flag);
};

TEST_F(LogFaults, ThreadsOfTwoProcessesNeverTearOrLoseARecord) {
  ScopedEnv limit("QK_LOGFILE_LIMIT", "2000000000");
  const Settings threaded = {{"QK_FT_THREADS", "4"}, {"QK_FT_RECORDS", "3000"}, {"QK_FT_LENGTH", "60"}};
  const auto runs = runAll({threaded, threaded});
  for (const auto& r : runs) ASSERT_EQ(0u, r.exit_code) << r.err;
  const Files files = readFiles(log_dir_);
  EXPECT_TRUE(files.bad.empty()) << files.bad.size() << " broken lines, first: " << files.bad[0];
  EXPECT_EQ(0u, files.torn_tails);
  std::set<unsigned long> pids;
  for (const Record& r : files.records) pids.insert(r.pid);
  ASSERT_EQ(2u, pids.size());
  for (unsigned long pid : pids)
    for (int t = 0; t < 4; ++t)
      for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(1u, files.records.count(Record{pid, t, i})) << pid << " " << t << " " << i;
  EXPECT_EQ(24000u, files.records.size());
}

class OneProcessFails : public LogFaults {
 protected:
  // One child fails on its own from record 100 on while three others write with the files
  // switching: the others lose nothing, and the failing one loses only the records that
  // failed and tells how many, and why. (Its standard error may be a file under the same
  // limit; the lost-record line in the log is what counts.)
  std::vector<testsupport::Run> check(const std::string& fault, int lost_expected, int error) {
    ScopedEnv limit("QK_LOGFILE_LIMIT", "40000");  // ten files hold every record
    const Settings healthy = {{"QK_FT_RECORDS", "300"}, {"QK_FT_LENGTH", "100"}};
    Settings failing = healthy;
    failing.push_back({"QK_FT_FAULT", fault});
    failing.push_back({"QK_FT_AT", "100"});
    const auto runs = runAll({failing, healthy, healthy, healthy});
    for (const auto& r : runs) EXPECT_EQ(0u, r.exit_code) << fault << ": " << r.err.substr(0, 600);
    const Files files = readFiles(log_dir_);
    EXPECT_TRUE(files.bad.empty()) << files.bad.size() << " broken lines, first: " << files.bad[0];
    EXPECT_EQ(0u, files.torn_tails);
    std::map<unsigned long, std::set<int>> written;
    for (const Record& r : files.records) written[r.pid].insert(r.sequence);
    EXPECT_EQ(4u, written.size()) << fault;
    int complete = 0;
    for (const auto& w : written) {
      if (w.second.size() == 300u) {
        ++complete;
        continue;
      }
      for (int i = 0; i < 300; ++i)
        EXPECT_EQ(i < 100 || i >= 100 + lost_expected, w.second.count(i) == 1) << fault << " record " << i;
    }
    EXPECT_EQ(3, complete) << fault;
    EXPECT_EQ(lost_expected, files.reported_lost) << fault;
    const std::string reason = "messages. Last reason was: " + std::string(error_text(error)) + "\n";
    bool told = false;
    for (const auto& item : fs::directory_iterator(log_dir_))
      told = told || testsupport::read_file(item.path().string()).find(reason) != std::string::npos;
    EXPECT_TRUE(told) << "no lost-record line with the reason " << reason;
    if (error == EMFILE || error == ENOLCK) {  // standard error is no file here, and holds every lost record
      std::size_t on_stderr = 0;
      for (const auto& r : runs) on_stderr += lostOnStandardError(r.err).size();
      EXPECT_EQ(10u, on_stderr);
    }
    return runs;
  }
};

TEST_F(OneProcessFails, OutOfDescriptors) { check("emfile", 10, EMFILE); }

TEST_F(OneProcessFails, AtAFileSizeLimitOnEveryBuild) { check("seam_efbig", 10, EFBIG); }

TEST_F(OneProcessFails, WithARecordLargerThanAFileMayHoldOnEveryBuild) { check("seam_oversize", 1, EFBIG); }

// Ten records find the block's mutex unobtainable: none of them touches a file (the
// others' records are whole and in order), each goes to standard error and is counted,
// and the outage is told once.
TEST_F(OneProcessFails, WhileItsLogMutexCannotBeHad) {
  const auto runs = check("lock", 10, ENOLCK);
  std::size_t told = 0;
  for (const auto& r : runs)
    for (std::size_t at = r.err.find("log mutex"); at != std::string::npos; at = r.err.find("log mutex", at + 1))
      ++told;
  EXPECT_EQ(1u, told);
  EXPECT_NE(std::string::npos, runs[0].err.find("cannot be had: wait for the block's mutex: " +
                                                 std::string(platform::c_error_message(ENOLCK))))
      << runs[0].err.substr(0, 600);
}

// When the logger's start-up cannot have the block's mutex: one it cannot make ends the
// process with the logger's fatal error; one that another user's object keeps from being
// made, or that is made but cannot be waited for, costs the process its shared log: it
// says why, and every record goes to standard error, none into a file.
TEST_F(LogFaults, AMutexThatCannotBeMadeAtStartIsFatal) {
  ScopedEnv fault("QK_FT_START_FAULT", "create");
  const auto runs = runAll({{{"QK_FT_RECORDS", "5"}, {"QK_FT_LENGTH", "100"}}});
  EXPECT_EQ(static_cast<unsigned long>(testsupport::observed_exit_code(999)), runs[0].exit_code);
  EXPECT_EQ("\nLOGGER: Couldn't get my semaphore : " + std::to_string(ENOSPC), runs[0].err);
}

TEST_F(LogFaults, AMutexThatCannotBeHadAtStartSendsTheRecordsToStandardError) {
  for (const char* start_fault : {"in_the_way", "wait"}) {
    ScopedEnv fault("QK_FT_START_FAULT", start_fault);
    const auto runs = runAll({{{"QK_FT_RECORDS", "5"}, {"QK_FT_LENGTH", "100"}}});
    EXPECT_EQ(0u, runs[0].exit_code) << start_fault << ": " << runs[0].err;
    const std::string why = std::string(start_fault) == "wait"
                                ? "wait for the block's mutex: " + std::string(platform::c_error_message(ENOLCK))
                                : platform::c_error_message(EACCES);
    EXPECT_NE(std::string::npos, runs[0].err.find("LoggerQK: The installation's shared log cannot be used: ")) << runs[0].err;
    EXPECT_NE(std::string::npos, runs[0].err.find(why)) << why << " in " << runs[0].err;
    std::size_t records = 0;
    for (std::size_t at = runs[0].err.find("LoggerQK: "); at != std::string::npos;
         at = runs[0].err.find("LoggerQK: ", at + 1))
      records += runs[0].err.compare(at + 10 + 99, 7, "faults ") == 0;
    EXPECT_EQ(5u, records) << start_fault;
    if (fs::is_directory(log_dir_))
      for (const auto& item : fs::directory_iterator(log_dir_)) ADD_FAILURE() << item.path() << " was made";
  }
}


TEST_F(OneProcessFails, AtItsFileSizeLimit) {
  if (!platform::testing::set_file_size_limit(-1)) GTEST_SKIP() << "no file-size limit here";
  check("efbig", 10, EFBIG);
}

TEST_F(OneProcessFails, WithARecordLargerThanAFileMayHold) {
  if (!platform::testing::set_file_size_limit(-1)) GTEST_SKIP() << "no file-size limit here";
  check("oversize", 1, EFBIG);
}

// Eight writers of 200-byte lines, one of which makes the disk full (as the fault says)
// from its record 50 for 50 records: every record is in a file once, or reported lost by
// its writer, or went with the one file that a switch may begin anew.
void LogFaults::checkFullDisk(const std::string& fault, const std::string& flag) {
  ScopedEnv limit("QK_LOGFILE_LIMIT", "30000");  // ten files hold every record
  Settings writer = {{"QK_FT_RECORDS", "150"}, {"QK_FT_LENGTH", "100"}, {"QK_FT_FAULT", fault},
                     {"QK_FT_AT", "50"},       {"QK_FT_FLAG", flag}};
  Settings owner = writer;
  owner.push_back({"QK_FT_FLAG_OWNER", "1"});
  const auto runs = runAll({owner, writer, writer, writer, writer, writer, writer, writer});
  for (const auto& r : runs) ASSERT_EQ(0u, r.exit_code) << r.err.substr(0, 600);
  const Files files = readFiles(log_dir_);
  EXPECT_TRUE(files.bad.empty()) << files.bad.size() << " broken lines, first: " << files.bad[0];
  EXPECT_EQ(0u, files.torn_tails);
  std::set<Record> lost;
  for (const auto& r : runs)
    for (const Record& l : lostOnStandardError(r.err)) lost.insert(l);
  std::set<unsigned long> pids;
  for (const Record& r : files.records) pids.insert(r.pid);
  for (const Record& r : lost) pids.insert(r.pid);
  ASSERT_EQ(8u, pids.size());
  std::size_t gone = 0;
  for (unsigned long pid : pids)
    for (int i = 0; i < 150; ++i) {
      const Record r{pid, 0, i};
      const std::size_t times = files.records.count(r);
      EXPECT_LE(times, 1u);
      EXPECT_FALSE(times == 1 && lost.count(r)) << "a record both written and reported lost";
      if (times == 0 && !lost.count(r)) ++gone;
    }
  EXPECT_LE(gone, 30000u / 200u) << "more than one file's worth of records replaced";
  EXPECT_FALSE(lost.empty()) << "the disk was never full";
  EXPECT_LE(files.reported_lost, static_cast<long long>(lost.size()));
}

TEST_F(LogFaults, AFullDiskReplacesAtMostOneFileAndCountsEveryLoss) {
  checkFullDisk("full", settings_ / "disk-full");  // writes through the table fail
}

TEST_F(LogFaults, AFullFileSystemReplacesAtMostOneFileAndCountsEveryLoss) {
  testsupport::make_dirs(log_dir_);
  if (!platform::testing::mount_small_volume(log_dir_, 400 * 1024))
    GTEST_SKIP() << "this process cannot mount a small file system of its own (root can, on Linux)";
  struct Unmount {
    std::string folder;
    ~Unmount() { platform::testing::unmount_small_volume(folder); }
  } unmount{log_dir_};
  checkFullDisk("fill", log_dir_ + "/filler");
}

TEST_F(LogFaults, WritersDyingMidRecordLeaveNoLineWithTwoRecords) {
  ScopedEnv limit("QK_LOGFILE_LIMIT", "2000000000");
  std::vector<Settings> children;
  for (int c = 0; c < 8; ++c) {
    Settings s = {{"QK_FT_RECORDS", "200"}, {"QK_FT_LENGTH", std::to_string(3000 + 700 * c)}};
    if (c % 4 != 0) {  // six die, at records of their own; two live
      s.push_back({"QK_FT_FAULT", "die"});
      s.push_back({"QK_FT_AT", std::to_string(20 + 23 * c)});
    }
    children.push_back(s);
  }
  const auto runs = runAll(children);
  const Files files = readFiles(log_dir_);
  EXPECT_TRUE(files.bad.empty()) << files.bad.size() << " broken lines, first: " << files.bad[0];
  EXPECT_LE(files.torn_tails, 1u);  // the last writer to die had no one after it
  std::map<unsigned long, int> written;
  for (const Record& r : files.records) ++written[r.pid];
  ASSERT_EQ(8u, written.size());
  // Every record written before its writer died is there: the dead writers' starts of
  // records were cut, never a whole record after them.
  std::multiset<int> counts;
  for (const auto& w : written) counts.insert(w.second);
  std::multiset<int> expected = {200, 200};
  for (int c = 0; c < 8; ++c)
    if (c % 4 != 0) expected.insert(20 + 23 * c);
  EXPECT_EQ(expected, counts);
  for (const auto& r : runs) EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 3) << r.exit_code;
}

TEST_F(LogFaults, AnotherUsersProcessTruncatesNothingAndReportsItsLosses) {
  ScopedEnv limit("QK_LOGFILE_LIMIT", "600");
  // The installation is made by this user and opened to others (as a group-writable
  // installation is), all but its log folder: others cannot begin new files there.
  const auto made = runAll({{{"QK_FT_RECORDS", "3"}, {"QK_FT_LENGTH", "100"}}});
  ASSERT_EQ(0u, made[0].exit_code) << made[0].err;
  for (const auto& item : fs::recursive_directory_iterator(root_.path()))
    fs::permissions(item.path(), item.is_directory() ? fs::perms::all
                                                     : fs::perms::owner_read | fs::perms::owner_write |
                                                           fs::perms::group_read | fs::perms::group_write |
                                                           fs::perms::others_read | fs::perms::others_write);
  fs::permissions(root_.path(), fs::perms::all);
  fs::permissions(log_dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(settings_.path(), fs::perms::all);

  // A process that may not write the log folder does not use it: it says so and writes its
  // records to standard error. Nothing in the files changes (the current file is never
  // begun anew), and no record goes unseen.
  const std::string current = log_dir_ + "/stdlog.0";
  const std::string before = testsupport::read_file(current);
  std::vector<std::string> child =
      testsupport::child_command("FaultWriter", {"--qk_ft_settings=" + settings_ / "settings.1"});
  testsupport::write_file(settings_ / "settings.1", "QK_FT_RECORDS=40\nQK_FT_LENGTH=100\n");
  platform::testing::OtherUserRun other;
  if (!platform::testing::run_as_other_user(child, &other))
    GTEST_SKIP() << "this process cannot run a program as another user (only root can, on POSIX)";
  ASSERT_EQ(0, other.exit_code) << other.err;
  EXPECT_EQ(before, testsupport::read_file(current));
  const Files files = readFiles(log_dir_);
  EXPECT_TRUE(files.bad.empty()) << files.bad.size() << " broken lines, first: " << files.bad[0];
  EXPECT_EQ(3u, files.records.size());
  EXPECT_NE(std::string::npos, other.err.find("is refused")) << other.err.substr(0, 600);
  std::size_t on_standard_error = 0;
  for (std::size_t at = other.err.find("LoggerQK: "); at != std::string::npos;
       at = other.err.find("LoggerQK: ", at + 1)) {
    const std::size_t end_of_line = other.err.find('\n', at);
    if (other.err.substr(at, end_of_line - at).find(" faults ") != std::string::npos) ++on_standard_error;
  }
  EXPECT_EQ(40u, on_standard_error) << other.err.substr(0, 600);
}

TEST_F(LogFaults, WritersKilledAtRandomLeaveNoLineWithTwoRecords) {
  ScopedEnv limit("QK_LOGFILE_LIMIT", "2000000000");
  std::vector<Settings> children;
  for (int c = 0; c < 16; ++c)
    children.push_back({{"QK_FT_RECORDS", "400"}, {"QK_FT_LENGTH", std::to_string(12000 + 1500 * c)},
                        {"QK_FT_FAULT", "killed"}});
  runAll(children);
  const Files files = readFiles(log_dir_);
  EXPECT_TRUE(files.bad.empty()) << files.bad.size() << " broken lines, first: " << files.bad[0].substr(0, 200);
  EXPECT_LE(files.torn_tails, 1u);
  // Each writer's records are there from its first on, without a gap.
  std::map<unsigned long, std::set<int>> written;
  for (const Record& r : files.records) written[r.pid].insert(r.sequence);
  for (const auto& w : written)
    EXPECT_EQ(static_cast<int>(w.second.size()) - 1, *w.second.rbegin()) << "process " << w.first;
}

}  // namespace
