// qklog end to end: a scratch installation with a key of its own, Brimvale and writer
// processes (children of this test program) logging into it, qklog run as a program.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/testing/user_testing.h"
#endif

#include "env/env.h"
#include "env/shmem.h"
#include "log/logger.h"
#include "log/memlgqk.h"
#include "platform/environment/environment.h"
#include "platform/named_lock/named_lock.h"
#include "platform/process/process.h"
#include "qklog/json_check.h"
#include "qklog/view.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

namespace fs = std::filesystem;
using testsupport::quote_arg;

namespace {

const std::string writer_source = "qklog_writer";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

int count_lines_starting(const std::string& text, const std::string& start) {
  int n = 0;
  for (const std::string& line : lines_of(text)) n += line.rfind(start, 0) == 0;
  return n;
}

// The text of a record line (after its 99-character prefix), or "" for other lines.
std::string record_text(const std::string& line) { return line.size() > 99 && line[0] != '%' ? line.substr(99) : ""; }

class Qklog : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_ / "root";
    const std::string jre = dir_ / "jre";
    testsupport::make_dirs(root_ + "/java/lib");
    testsupport::make_dirs(jre + "/bin");
#ifdef _WIN32
    fs::copy_file(testsupport::sibling_program("fakejava"), jre + "/bin/java.exe");
#else
    fs::copy_file(testsupport::sibling_program("fakejava"), jre + "/bin/java");
#endif
    set("QK_ROOT", root_.c_str());
    set("QK_LOCAL", root_.c_str());
    set("QK_JRE_INSTALL_DIR", jre.c_str());
    set("FAKEJAVA_REPORT", (dir_ / "report.txt").c_str());
    for (const char* name : {"FAKEJAVA_EXIT", "QK_NAMESPACE", "QK_SITE", "QK_LOG", "QK_LOG_LEVEL", "QK_LOG_LEVEL_STD",
                             "QK_LOGFILE_LIMIT", "QK_LOG_NOKEY", "QK_TEST_PROGRAM_NAME"})
      set(name, nullptr);
    static int counter = 0;
    key_ = 710000000 + static_cast<int>(testsupport::process_id() % 100000) * 100 + counter++ % 100;
    set("QK_KEY", std::to_string(key_).c_str());
  }

  void set(const std::string& name, const char* value) { env_.emplace_back(new testsupport::ScopedEnv(name, value)); }

  testsupport::Run program(const std::string& name, const std::vector<std::string>& args) {
    return testsupport::run_sibling(name, args);
  }
  testsupport::Run qklog(const std::vector<std::string>& args) { return program("qklog", args); }
  testsupport::Run brimvale(const std::vector<std::string>& args) { return program("Brimvale", args); }

  // A child of this program that logs count records "writer ID record J" at the level
  // from the source module qklog_writer.
  static testsupport::Run writer(int id, int count, int level) {
    return testsupport::run_child("QklogWriter", testsupport::ChildOptions().argument(
                                                     "--writer=" + std::to_string(id) + "," + std::to_string(count) +
                                                     "," + std::to_string(level)));
  }

  // The block as its backing file holds it. The tests read and write the file rather than
  // map it: a view that this process wrote through would keep Windows from removing the
  // scratch folder at the end.
  std::string backing_file() const {
    char name[16];
    std::snprintf(name, sizeof name, "%08x", static_cast<unsigned>(key_ + 1));
    return root_ + "/site/shm/" + name;
  }
  MEMORY_LGQK snapshot() const {
    MEMORY_LGQK copy;
    std::memset(&copy, 0, sizeof copy);
    const std::string bytes = testsupport::read_file(backing_file());
    EXPECT_EQ(bytes.size(), sizeof copy);
    std::memcpy(&copy, bytes.data(), std::min(bytes.size(), sizeof copy));
    return copy;
  }
  void write_block(const MEMORY_LGQK& block) const {
    std::fstream file(backing_file(), std::ios::in | std::ios::out | std::ios::binary);
    file.write(reinterpret_cast<const char*>(&block), sizeof block);
  }

  std::string log_dir() const { return root_ + "/log"; }

  // Every line of the log files, file by file.
  std::vector<std::string> log_lines() {
    std::vector<std::string> all;
    std::error_code ec;
    if (!fs::is_directory(log_dir(), ec)) return all;
    for (const auto& entry : fs::directory_iterator(log_dir())) {
      for (const std::string& line : lines_of(testsupport::read_file(entry.path().generic_string()))) all.push_back(line);
    }
    return all;
  }

  // Records of the launcher at MILESTONE: its invocation and its completion.
  int launcher_milestones() {
    int n = 0;
    for (const std::string& line : log_lines()) {
      const std::string text = record_text(line);
      if (line.find(" MILESTONE ") != std::string::npos &&
          (text.rfind("Invocation Command Line:", 0) == 0 || text.rfind("Error returned from command.", 0) == 0))
        ++n;
    }
    return n;
  }

  testsupport::TempDir dir_;
  std::string root_;
  int key_ = 0;
  std::vector<std::unique_ptr<testsupport::ScopedEnv>> env_;
};

TEST_F(Qklog, FiltersBySourceAndByProcessNameLetTheLaunchersMilestonesThrough) {
  ASSERT_EQ(brimvale({"a"}).exit_code, 0u);
  EXPECT_EQ(launcher_milestones(), 0) << "the default threshold writes no MILESTONE records";

  // INFORMATION stores 81: MILESTONE (90) is not below it.
  EXPECT_EQ(qklog({"filter", "add", "--source", "Brimvale", "--level", "INFORMATION"}).exit_code, 0u);
  ASSERT_EQ(brimvale({"a"}).exit_code, 0u);
  EXPECT_EQ(launcher_milestones(), 0);

  testsupport::Run added = qklog({"filter", "add", "--source", "Brimvale", "--level", "MILESTONE"});
  EXPECT_EQ(added.exit_code, 0u) << added.err;
  EXPECT_EQ(added.out, "updated entry 1: level 91, ranks below 91 (MILESTONE and more important)\n");
  EXPECT_EQ(snapshot().filters[0].level, 91);
  ASSERT_EQ(brimvale({"a"}).exit_code, 0u);
  EXPECT_EQ(launcher_milestones(), 2);

  testsupport::Run removed = qklog({"filter", "remove", "--source", "Brimvale"});
  EXPECT_EQ(removed.exit_code, 0u) << removed.err;
  ASSERT_EQ(brimvale({"a"}).exit_code, 0u);
  EXPECT_EQ(launcher_milestones(), 2);

  EXPECT_EQ(qklog({"filter", "add", "--process=Brimvale", "--level=90"}).exit_code, 0u);
  testsupport::Run list = qklog({"filter", "list"});
  EXPECT_NE(list.out.find("  1  process     91  Brimvale"), std::string::npos) << list.out;
  ASSERT_EQ(brimvale({"a"}).exit_code, 0u);
  EXPECT_EQ(launcher_milestones(), 4);
  EXPECT_EQ(qklog({"filter", "remove", "1"}).exit_code, 0u);
  ASSERT_EQ(brimvale({"a"}).exit_code, 0u);
  EXPECT_EQ(launcher_milestones(), 4);
  EXPECT_EQ(qklog({"filter", "list", "--json"}).out, "[]\n");
}

TEST_F(Qklog, StatusShowsTheKeyDirectoryFilesFiltersAndOffset) {
  ASSERT_EQ(brimvale({"-V"}).exit_code, 9u);  // makes the block and opens stdlog's entry
  EXPECT_EQ(qklog({"offset", "-1.5"}).exit_code, 0u);
  EXPECT_EQ(qklog({"filter", "add", "--pid", "1234567", "--level", "TRACE"}).exit_code, 0u);
  testsupport::Run status = qklog({"status"});
  ASSERT_EQ(status.exit_code, 0u) << status.err;
  EXPECT_EQ(status.out.rfind("key            " + std::to_string(key_) + " (block " + std::to_string(key_ + 1), 0), 0u)
      << status.out;
  EXPECT_NE(status.out.find("log directory  " + log_dir() + "\n"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("time offset    -1 s -500 ms\n"), std::string::npos);
  EXPECT_NE(status.out.find("stdlog.%1             0  stdlog.0              100000"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("  1  pid        201  34567  -- passes ranks below 201 (TRACE and more important)\n"), std::string::npos) << status.out;

  testsupport::Run json = qklog({"status", "--json"});
  ASSERT_EQ(json.exit_code, 0u);
  EXPECT_NE(json.out.find("\"time_offset\":{\"seconds\":-1,\"milliseconds\":-500}"), std::string::npos);
  EXPECT_NE(json.out.find("\"pattern\":\"stdlog.%1\",\"file_number\":0"), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"filters\":[{\"entry\":1,\"kind\":1,\"kind_name\":\"pid\",\"level\":201,\"process_id\":34567"),
            std::string::npos);
  EXPECT_EQ(qklog({"offset"}).out, "-1 s -500 ms\n");
  EXPECT_EQ(qklog({"offset", "--clear"}).exit_code, 0u);
  EXPECT_EQ(qklog({"offset"}).out, "0 s 0 ms\n");
}

TEST_F(Qklog, AnOffsetIsInTheHeaderOfTheNextFile) {
  set("QK_LOGFILE_LIMIT", "600");
  ASSERT_EQ(brimvale({"-V"}).exit_code, 9u);
  EXPECT_EQ(qklog({"offset", "12.34"}).exit_code, 0u);
  EXPECT_EQ(qklog({"filter", "add", "--source", "Brimvale", "--level", "MILESTONE"}).exit_code, 0u);
  for (int run = 0; run < 6 && snapshot().files[0].file_number == 0; ++run) ASSERT_EQ(brimvale({"a"}).exit_code, 0u);
  const MEMORY_LGQK b = snapshot();
  ASSERT_GE(b.files[0].file_number, 1) << "the 600-byte limit switches files";
  const std::string file = qklog::current_file_path(b, 0);
  const std::vector<std::string> lines = lines_of(testsupport::read_file(file));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("%%         +12.34 ", 0), 0u) << lines[0];
}

TEST_F(Qklog, TailFollowsFourWritersAcrossSwitchesPrintingEachRecordOnce) {
  const int writers = 4;
  static const int records = 2000;
  // About 19 files of records, so that the writers go round the ring of ten while the ring
  // still holds more than the tail falls behind on a loaded machine.
  set("QK_LOGFILE_LIMIT", "50000");
  ASSERT_EQ(writer(0, 1, ERROR).exit_code, 0u);  // the block, and one record to start from

  const std::string out = dir_ / "tail.out", err = dir_ / "tail.err", in = dir_ / "tail.in";
  testsupport::write_file(in, "");
  platform::CommandResult tail_result;
  std::thread tail([&] {
    tail_result = platform::run_command_line_redirected(
        quote_arg(testsupport::sibling_program("qklog")) + " tail -n 1 -f --idle 10", in, out, err);
  });
  // The first line printed shows that the tail has found its place.
  for (int i = 0; i < 3000 && testsupport::read_file(out).find("writer 0 record 0") == std::string::npos; ++i)
    platform::sleep_ms(10);

  std::vector<std::thread> threads;
  for (int w = 1; w <= writers; ++w)
    threads.emplace_back([w] { EXPECT_EQ(writer(w, records, ERROR).exit_code, 0u); });
  for (auto& t : threads) t.join();
  tail.join();
  ASSERT_TRUE(tail_result.started);
  EXPECT_EQ(tail_result.exit_code, 0u) << testsupport::read_file(err);
  EXPECT_EQ(testsupport::read_file(err), "");

  std::map<int, int> next;  // per writer, the record expected next
  int printed = 0;
  for (const std::string& line : lines_of(testsupport::unix_lines(testsupport::read_file(out)))) {
    int w = -1, j = -1;
    if (std::sscanf(record_text(line).c_str(), "writer %d record %d", &w, &j) != 2) continue;
    ++printed;
    if (w == 0) continue;
    EXPECT_EQ(j, next[w]) << "writer " << w << ": record " << j << " after " << next[w] - 1;
    next[w] = j + 1;
  }
  EXPECT_EQ(printed, 1 + writers * records);
  for (int w = 1; w <= writers; ++w) EXPECT_EQ(next[w], records) << "writer " << w;
  EXPECT_GE(snapshot().files[0].file_number, 10) << "the writers went round the ring of ten files";
}

using Records = std::vector<std::pair<int, int>>;

// "writer W record J" of the record lines of the text, in their order.
std::vector<std::pair<int, int>> writer_records(const std::string& text) {
  std::vector<std::pair<int, int>> found;
  for (const std::string& line : lines_of(text)) {
    int w = -1, j = -1;
    if (std::sscanf(record_text(line).c_str(), "writer %d record %d", &w, &j) == 2) found.push_back({w, j});
  }
  return found;
}

// The records of writers first to last, count each, in the order they were written.
std::vector<std::pair<int, int>> written(int first, int last, int count) {
  std::vector<std::pair<int, int>> records;
  for (int w = first; w <= last; ++w)
    for (int j = 0; j < count; ++j) records.push_back({w, j});
  return records;
}

TEST_F(Qklog, TailReachesBackAcrossFileSwitchesInTheOrderWritten) {
  set("QK_LOGFILE_LIMIT", "600");  // five or six records a file
  ASSERT_EQ(writer(0, 1, ERROR).exit_code, 0u);
  ASSERT_EQ(qklog({"offset", "12.34"}).exit_code, 0u);  // every later file begins with a header line
  for (int w = 1; w <= 4; ++w) ASSERT_EQ(writer(w, 10, ERROR).exit_code, 0u);
  ASSERT_GE(snapshot().files[0].file_number, 6) << "the records fill several files";
  ASSERT_LT(snapshot().files[0].file_number, 10) << "and the ring still holds them all";

  const std::vector<std::pair<int, int>> all = written(1, 4, 10);
  for (int n : {1, 2, 7, 23, 40}) {
    testsupport::Run r = qklog({"tail", "-n", std::to_string(n)});
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(writer_records(r.out), Records(all.end() - n, all.end())) << "-n " << n;
    for (const std::string& line : lines_of(r.out))
      EXPECT_TRUE(line.rfind("%%         +12.34 ", 0) == 0 || !record_text(line).empty()) << line;
  }
  testsupport::Run everything = qklog({"tail", "-n", "1000"});
  std::vector<std::pair<int, int>> expected = {{0, 0}};
  expected.insert(expected.end(), all.begin(), all.end());
  EXPECT_EQ(writer_records(everything.out), expected);
  EXPECT_GE(count_lines_starting(everything.out, "%%"), 5) << everything.out;
}

TEST_F(Qklog, TailSelectsRecordsOfSeveralProcessesByEveryConditionAndPrintsJson) {
  set("QK_LOGFILE_LIMIT", "700");
  ASSERT_EQ(brimvale({"-V"}).exit_code, 9u);
  ASSERT_EQ(qklog({"offset", "-1.5"}).exit_code, 0u);
  ASSERT_EQ(qklog({"filter", "add", "--source", writer_source, "--level", "VERBOSE"}).exit_code, 0u);
  ASSERT_EQ(qklog({"filter", "add", "--source", "Brimvale", "--level", "MILESTONE"}).exit_code, 0u);
  ASSERT_EQ(writer(1, 5, ERROR).exit_code, 0u);
  ASSERT_EQ(writer(2, 5, WARNING).exit_code, 0u);
  ASSERT_EQ(brimvale({"a"}).exit_code, 0u);  // two MILESTONE records of the process Brimvale
  ASSERT_EQ(writer(3, 5, INFORMATION).exit_code, 0u);
  ASSERT_GE(snapshot().files[0].file_number, 2);

  auto records = [&](const std::vector<std::string>& conditions) {
    std::vector<std::string> args = {"tail"};
    args.insert(args.end(), conditions.begin(), conditions.end());
    testsupport::Run r = qklog(args);
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    EXPECT_EQ(r.err, "");
    return writer_records(r.out);
  };
  EXPECT_EQ(records({"-n", "100", "--level", "WARNING"}), written(1, 2, 5));
  EXPECT_EQ(records({"-n", "3", "--level", "warning"}), Records({{2, 2}, {2, 3}, {2, 4}}))
      << "N counts the records that pass";
  EXPECT_EQ(records({"-n", "100", "--level", "ERROR"}), written(1, 1, 5));
  EXPECT_EQ(records({"-n", "100", "--match", "record [34]$", "--level", "INFORMATION"}),
            Records({{1, 3}, {1, 4}, {2, 3}, {2, 4}, {3, 3}, {3, 4}}));
  EXPECT_EQ(records({"-n", "100", "--source", writer_source, "--since", "1h"}), written(1, 3, 5));
  EXPECT_TRUE(records({"-n", "100", "--source", writer_source, "--process", "Brimvale"}).empty());

  char later[32], earlier[32];
  const std::time_t now = std::time(nullptr) + 86400, before = now - 2 * 86400;
  std::strftime(later, sizeof later, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  std::strftime(earlier, sizeof earlier, "%Y-%m-%d %H:%M:%S", std::localtime(&before));
  EXPECT_EQ(qklog({"tail", "-n", "100", "--since", later}).out, "");
  EXPECT_EQ(records({"-n", "100", "--since", earlier, "--source", writer_source}), written(1, 3, 5));

  testsupport::Run launcher = qklog({"tail", "--process", "Brimvale", "--source", "Brimvale"});
  EXPECT_EQ(lines_of(launcher.out).size(), 2u) << launcher.out;
  EXPECT_EQ(record_text(lines_of(launcher.out)[0]).rfind("Invocation Command Line:", 0), 0u) << launcher.out;

  // JSON: one valid object a record, the process ids as numbers; --pid finds one process.
  testsupport::Run json = qklog({"tail", "-n", "100", "--json", "--source", writer_source});
  ASSERT_EQ(json.exit_code, 0u) << json.err;
  const std::vector<std::string> objects = lines_of(json.out);
  ASSERT_EQ(objects.size(), 15u) << json.out;
  std::map<std::string, std::string> pids;
  for (const std::string& text : objects) {
    qklog_test::JsonObject o;
    ASSERT_TRUE(o.parse(text)) << text;
    for (const char* key : {"time", "host", "process", "pid", "level", "source", "line", "text"})
      EXPECT_NE(o[key], "<none>") << key << " in " << text;
    EXPECT_EQ(o["source"], writer_source);
    EXPECT_EQ(o["line"][0], '#');
    EXPECT_EQ(o["time"].size(), 22u) << o["time"];
    EXPECT_TRUE(o["offset"] == "<none>" || o["offset"] == "#-1.50") << text;
    pids[o["text"].substr(0, 8)] = o["pid"].substr(1);
  }
  ASSERT_EQ(pids.size(), 3u);
  EXPECT_EQ(records({"-n", "100", "--pid", pids["writer 2"]}), written(2, 2, 5));
  EXPECT_NE(json.out.find("\"level\":\"WARNING\""), std::string::npos);
  EXPECT_NE(json.out.find("\"offset\":-1.50}"), std::string::npos) << "files begun after the offset was set";
}

TEST_F(Qklog, TailFollowsWithConditionsAndJson) {
  set("QK_LOGFILE_LIMIT", "2000");  // a few switches; the ring holds more than a busy machine lags
  ASSERT_EQ(writer(0, 1, ERROR).exit_code, 0u);
  ASSERT_EQ(qklog({"filter", "add", "--source", writer_source, "--level", "VERBOSE"}).exit_code, 0u);
  const std::string out = dir_ / "tail.out", err = dir_ / "tail.err", in = dir_ / "tail.in";
  testsupport::write_file(in, "");
  platform::CommandResult tail_result;
  std::thread tail([&] {
    tail_result = platform::run_command_line_redirected(
        quote_arg(testsupport::sibling_program("qklog")) + " tail -n 1 -f --idle 3 --json --level ERROR", in, out,
        err);
  });
  for (int i = 0; i < 3000 && testsupport::read_file(out).find("writer 0 record 0") == std::string::npos; ++i)
    platform::sleep_ms(10);
  std::thread warnings([] { EXPECT_EQ(writer(2, 30, WARNING).exit_code, 0u); });
  EXPECT_EQ(writer(1, 30, ERROR).exit_code, 0u);
  warnings.join();
  tail.join();
  ASSERT_TRUE(tail_result.started);
  EXPECT_EQ(tail_result.exit_code, 0u) << testsupport::read_file(err);
  std::vector<std::pair<int, int>> seen;
  for (const std::string& text : lines_of(testsupport::unix_lines(testsupport::read_file(out)))) {
    qklog_test::JsonObject o;
    ASSERT_TRUE(o.parse(text)) << text;
    EXPECT_EQ(o["level"], "ERROR");
    int w = -1, j = -1;
    ASSERT_EQ(std::sscanf(o["text"].c_str(), "writer %d record %d", &w, &j), 2) << text;
    seen.push_back({w, j});
  }
  std::vector<std::pair<int, int>> expected = {{0, 0}};
  const std::vector<std::pair<int, int>> ones = written(1, 1, 30);
  expected.insert(expected.end(), ones.begin(), ones.end());
  EXPECT_EQ(seen, expected) << testsupport::read_file(err);
  EXPECT_GE(snapshot().files[0].file_number, 3) << "the following went across switches";
}

TEST_F(Qklog, TailRefusesBadConditionsWithAReason) {
  ASSERT_EQ(writer(0, 1, ERROR).exit_code, 0u);
  const MEMORY_LGQK before = snapshot();
  const struct {
    std::vector<std::string> args;
    const char* message;
  } bad[] = {
      {{"--level", "LOUD"}, "qklog: unknown level 'LOUD'\n"},
      {{"--level"}, "qklog: option --level needs a value\n"},
      {{"--pid", "x"}, "qklog: --pid needs a process id (a number from 0), not 'x'\n"},
      {{"--pid=-1"}, "qklog: --pid needs a process id (a number from 0), not '-1'\n"},
      {{"--pid"}, "qklog: option --pid needs a value\n"},
      {{"--process", ""}, "qklog: --process needs a name\n"},
      {{"--source="}, "qklog: --source needs a name\n"},
      {{"-f", "--source"}, "qklog: option --source needs a value\n"},
      {{"--since", "yesterday"}, "qklog: bad time 'yesterday': give YYYY-MM-DD[ HH:MM[:SS]], MM/DD HH:MM:SS as "
                                 "records show it, or a span such as 10m, 2h, 1d\n"},
      {{"--since", "2026-02-30 25:00"}, "qklog: bad time '2026-02-30 25:00'"},
      {{"--since"}, "qklog: option --since needs a value\n"},
      {{"--match", "\\(x"}, "qklog: bad pattern '\\x5c(x' for --match: unmatched ()\n"},
      {{"--match", "*x"}, "qklog: bad pattern '*x' for --match: ?+* follows nothing\n"},
      {{"--match"}, "qklog: option --match needs a value\n"},
      {{"--json=yes"}, "qklog: option --json takes no value\n"},
      {{"--grep", "x"}, "qklog: unknown option --grep\n"},
  };
  for (const auto& b : bad) {
    std::vector<std::string> args = {"tail"};
    args.insert(args.end(), b.args.begin(), b.args.end());
    testsupport::Run r = qklog(args);
    EXPECT_EQ(r.exit_code, 2u) << b.args[0];
    EXPECT_EQ(r.err.rfind(b.message, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("usage: qklog tail"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << b.args[0];
  }
  const MEMORY_LGQK after = snapshot();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST_F(Qklog, FiltersChangingWhileEightProcessesLogLoseAndTearNothing) {
  const int writers = 8;
  static const int records = 250;
  ASSERT_EQ(writer(0, 1, ERROR).exit_code, 0u);
  // INFORMATION records pass only through this entry, which must hold while others change.
  ASSERT_EQ(qklog({"filter", "add", "--source", writer_source, "--level", "INFORMATION"}).exit_code, 0u);
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int w = 1; w <= writers; ++w)
    threads.emplace_back([w] { EXPECT_EQ(writer(w, records, INFORMATION).exit_code, 0u); });
  std::thread changer([&] {
    for (int round = 0; !done || round < 4; ++round) {
      const std::string pid = std::to_string(90000 + round % 7);
      EXPECT_EQ(qklog({"filter", "add", "--pid", pid, "--level", "VERBOSE"}).exit_code, 0u);
      EXPECT_EQ(qklog({"filter", "add", "--process", "other" + pid, "--level", "1"}).exit_code, 0u);
      EXPECT_EQ(qklog({"filter", "remove", "--pid", pid}).exit_code, 0u);
      EXPECT_EQ(qklog({"filter", "remove", "--process", "other" + pid}).exit_code, 0u);
    }
  });
  for (auto& t : threads) t.join();
  done = true;
  changer.join();

  std::set<std::pair<int, int>> seen;
  for (const std::string& line : log_lines()) {
    int w = -1, j = -1;
    char tail = 0;
    if (std::sscanf(record_text(line).c_str(), "writer %d record %d%c", &w, &j, &tail) < 2 || w == 0) continue;
    EXPECT_EQ(tail, 0) << "a torn record: " << line;
    EXPECT_TRUE(seen.insert({w, j}).second) << "twice: " << line;
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(writers * records));
  EXPECT_EQ(snapshot().filter_busy, 0u);
}

// A process that keeps running sees a filter added after its level tests began: it
// tests a MILESTONE record of its own until one passes.
TEST_F(Qklog, AFilterAddedWhileAProcessRunsTakesEffectInIt) {
  ASSERT_EQ(writer(0, 1, ERROR).exit_code, 0u);  // the block
  testsupport::Run waiting;
  std::thread child([&] {
    waiting = testsupport::run_child("QklogWaitForFilter", testsupport::ChildOptions().argument("--seconds=60"));
  });
  // The child says so in the log once its tests have failed for a while.
  bool failing = false;
  for (int i = 0; i < 3000 && !failing; ++i) {
    for (const std::string& line : log_lines())
      if (record_text(line) == "tests fail") failing = true;
    if (!failing) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(failing) << "the child never logged";
  testsupport::Run added = qklog({"filter", "add", "--source", writer_source, "--level", "MILESTONE"});
  EXPECT_EQ(added.exit_code, 0u) << added.err;
  child.join();
  EXPECT_EQ(waiting.exit_code, 0u) << waiting.err;
  int passed = 0;
  for (const std::string& line : log_lines())
    if (record_text(line) == "a MILESTONE record passed") ++passed;
  EXPECT_EQ(passed, 1);
}

TEST_F(Qklog, BadInputIsRefusedAndChangesNothing) {
  ASSERT_EQ(brimvale({"-V"}).exit_code, 9u);
  MEMORY_LGQK before = snapshot();
  auto unchanged = [&] {
    const MEMORY_LGQK now = snapshot();
    return std::memcmp(&before, &now, sizeof before) == 0;
  };

  testsupport::Run level = qklog({"filter", "add", "--source", "Brimvale", "--level", "LOUD"});
  EXPECT_EQ(level.exit_code, 2u);
  EXPECT_EQ(level.err.rfind("qklog: unknown level 'LOUD'\n", 0), 0u) << level.err;
  const std::string long_name(104, 'n');
  testsupport::Run name = qklog({"filter", "add", "--process", long_name, "--level", "ERROR"});
  EXPECT_EQ(name.exit_code, 2u);
  EXPECT_EQ(name.err.rfind("qklog: --process needs a name of 1 to 103 bytes", 0), 0u) << name.err;
  EXPECT_EQ(qklog({"filter", "add", "--level", "ERROR"}).exit_code, 2u);
  EXPECT_EQ(qklog({"filter", "add", "--pid", "1", "--source", "x", "--level", "ERROR"}).exit_code, 2u);
  EXPECT_EQ(qklog({"filter", "add", "--pid", "-4", "--level", "ERROR"}).exit_code, 2u);
  EXPECT_EQ(qklog({"filter", "remove", "21"}).exit_code, 2u);
  EXPECT_EQ(qklog({"filter", "frobnicate"}).exit_code, 2u);
  EXPECT_EQ(qklog({"offset", "1.2345"}).exit_code, 2u);
  EXPECT_EQ(qklog({"offset", "1", "--clear"}).exit_code, 2u);
  EXPECT_EQ(qklog({"tail", "-n", "x"}).exit_code, 2u);
  EXPECT_EQ(qklog({"status", "--jsn"}).err.rfind("qklog: unknown option --jsn\n", 0), 0u);
  testsupport::Run unknown = qklog({"stats"});
  EXPECT_EQ(unknown.exit_code, 2u);
  EXPECT_EQ(unknown.err.rfind("qklog: unknown command 'stats'\nusage: qklog COMMAND", 0), 0u);
  testsupport::Run none = qklog({});
  EXPECT_EQ(none.exit_code, 2u);
  EXPECT_EQ(none.err.rfind("usage: qklog COMMAND", 0), 0u);
  EXPECT_EQ(qklog({"filter", "remove", "--source", "absent"}).exit_code, 1u);
  EXPECT_EQ(qklog({"filter", "remove", "3"}).err, "qklog: filter entry 3 is not in use\n");
  EXPECT_TRUE(unchanged());

  EXPECT_EQ(qklog({"filter", "add", "--process", std::string(103, 'n'), "--level", "ERROR"}).exit_code, 0u);
  MEMORY_LGQK full_table = snapshot();
  for (int i = 1; i < LOG_FILTER_ENTRIES; ++i) {
    int index = 0;
    qklog::FilterSelector s;
    s.kind = LOG_FILTER_SOURCE_FILE;
    s.name = "m" + std::to_string(i);
    ASSERT_EQ(qklog::add_filter(&full_table, s, 81, &index), qklog::FilterChange::added);
  }
  write_block(full_table);
  before = snapshot();
  testsupport::Run full = qklog({"filter", "add", "--source", "Brimvale", "--level", "ERROR"});
  EXPECT_EQ(full.exit_code, 1u);
  EXPECT_EQ(full.err, "qklog: the filter table is full (20 entries); nothing changed\n");
  EXPECT_TRUE(unchanged());

  for (const char* command : {"status", "filter", "offset", "tail"}) {
    testsupport::Run help = qklog({command, "--help"});
    EXPECT_EQ(help.exit_code, 0u);
    EXPECT_EQ(help.out.rfind(std::string("usage: qklog ") + command, 0), 0u) << help.out;
  }
  EXPECT_EQ(qklog({"--help"}).exit_code, 0u);
}

TEST_F(Qklog, WithoutABlockItSaysSoAndCreatesNothing) {
  testsupport::Run none = qklog({"status"});
  EXPECT_EQ(none.exit_code, 3u);
  EXPECT_EQ(none.err, "qklog: no log block for the key " + std::to_string(key_) +
                          ": no process of the installation has logged yet\n");
  EXPECT_EQ(qklog({"filter", "add", "--source", "x", "--level", "ERROR"}).exit_code, 3u);
  EXPECT_EQ(qklog({"tail"}).exit_code, 3u);
  EXPECT_FALSE(testsupport::file_exists(root_ + "/site")) << "looking must not create the block's folders";
  EXPECT_FALSE(testsupport::file_exists(log_dir()));

  // A backing file that no process initialised, and one that is too short.
  char name[16];
  std::snprintf(name, sizeof name, "%08x", static_cast<unsigned>(key_ + 1));
  testsupport::make_dirs(root_ + "/site/shm");
  const std::string backing = root_ + "/site/shm/" + name;
  testsupport::write_file(backing, std::string(100, '\0'));
  testsupport::Run small = qklog({"status"});
  EXPECT_EQ(small.exit_code, 3u);
  EXPECT_EQ(small.err, "qklog: the log block for the key " + std::to_string(key_) + " is too small\n");
  EXPECT_EQ(fs::file_size(backing), 100u) << "the file must not be grown";
  testsupport::write_file(backing, std::string(sizeof(MEMORY_LGQK), '\0'));
  testsupport::Run blank = qklog({"offset", "5"});
  EXPECT_EQ(blank.exit_code, 3u);
  EXPECT_EQ(blank.err, "qklog: the log block for the key " + std::to_string(key_) + " was never initialised\n");

  set("QK_KEY", nullptr);
  testsupport::Run nokey = qklog({"status"});
  EXPECT_EQ(nokey.exit_code, 3u);
  EXPECT_EQ(nokey.err, "qklog: QK_KEY is not set: the installation has no shared log block\n");

  set("QK_ROOT", nullptr);
  testsupport::Run noroot = qklog({"status"});
  EXPECT_EQ(noroot.exit_code, 3u);
  EXPECT_EQ(noroot.err, "qklog: no installation: QK_ROOT is set neither in the environment nor in tallowin.ini\n");
}

TEST_F(Qklog, TailWithoutALogFileAndOfAGarbageBlockEndsCleanly) {
  ASSERT_EQ(brimvale({"-V"}).exit_code, 9u);
  testsupport::Run empty = qklog({"tail"});
  EXPECT_EQ(empty.exit_code, 4u) << empty.err;  // stdlog.0 is not written yet

  // Garbage, as another program could write it; stdlog's entry is found, with a log
  // directory of garbage.
  MEMORY_LGQK garbage = snapshot();
  auto* bytes = reinterpret_cast<unsigned char*>(&garbage);
  for (std::size_t i = 0; i < offsetof(MEMORY_LGQK, marker); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
  std::memcpy(garbage.files[3].directory, ".\0", 2);
  std::memcpy(garbage.files[3].pattern, "stdlog.%1", 10);
  write_block(garbage);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"status"}, {"status", "--json"}, {"filter", "list"}, {"offset"}, {"tail", "-n", "3"}}) {
    testsupport::Run r = qklog(args);
    EXPECT_TRUE(r.exit_code == 0u || r.exit_code == 4u) << args[0] << ": " << r.exit_code << " " << r.err;
    for (char c : r.out) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 32) << args[0];
  }
  testsupport::Run add = qklog({"filter", "add", "--source", "x", "--level", "ERROR"});
  EXPECT_TRUE(add.exit_code == 0u || add.exit_code == 1u) << add.err;
  EXPECT_EQ(qklog({"filter", "clear"}).exit_code, 0u);
  EXPECT_EQ(snapshot().filter_busy, 0u);
}

#ifndef _WIN32

// --- Stalls: processes started and stopped by hand, each waited for with a deadline ------------

// A program started with its standard output and error going to the descriptors (or files).
class Started {
 public:
  Started(const std::vector<std::string>& argv, int out_fd, const std::string& err_path) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int in = open("/dev/null", O_RDONLY);
      dup2(in, 0);
      dup2(out_fd, 1);
      dup2(err, 2);
      execv(args[0], args.data());
      _exit(127);
    }
  }
  ~Started() {
    if (!ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  pid_t pid() const { return pid_; }
  // Waits up to the seconds; true with its exit code when it ended.
  bool ended_within(double seconds, int* code) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        ended_ = true;
        *code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      }
      if (std::chrono::steady_clock::now() >= deadline) return false;
      platform::sleep_ms(10);
    }
  }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
};

class QklogStalls : public Qklog {
 protected:
  // Runs the program to its end, at most the seconds (then it is killed and the test
  // fails); its exit code (-1 when it did not end) and standard error.
  struct Ended {
    int code = -1;
    double seconds = 0;
    std::string out, err;
  };
  Ended run_within(const std::vector<std::string>& argv, double seconds) {
    static std::atomic<int> counter{0};
    const std::string name = dir_ / ("run" + std::to_string(counter++));
    const int out = open((name + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto started_at = std::chrono::steady_clock::now();
    Ended e;
    {
      Started started(argv, out, name + ".err");
      close(out);
      if (!started.ended_within(seconds, &e.code)) ADD_FAILURE() << argv[0] << " " << argv[1] << " still runs after " << seconds << " s";
    }
    e.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_at).count();
    e.out = testsupport::read_file(name + ".out");
    e.err = testsupport::read_file(name + ".err");
    return e;
  }
  static std::vector<std::string> qklog_command(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {testsupport::sibling_program("qklog")};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  static std::vector<std::string> writer_command(int id, int count) {
    return testsupport::child_command(
        "QklogWriter", {"--writer=" + std::to_string(id) + "," + std::to_string(count) + "," + std::to_string(ERROR)});
  }
  static int count_of(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
  int records_of(int id) {
    int n = 0;
    for (const std::string& line : log_lines())
      if (record_text(line).rfind("writer " + std::to_string(id) + " record ", 0) == 0) ++n;
    return n;
  }
};

// Takes the block's mutex, says its process id on standard output, and stops itself.
TEST(DISABLED_ChildScenario, QklogMutexHolderStops) {
  platform::NamedLock lock(memlgqk_mutex_name(env_key(1, 1)), platform::NamedLock::everyone, shm_directory());
  ASSERT_TRUE(lock.ok());
  ASSERT_EQ(lock.wait(platform::NamedLock::forever), platform::LockWait::acquired);
  std::printf("%ld\n", static_cast<long>(getpid()));
  std::fflush(stdout);
  raise(SIGSTOP);
  for (;;) platform::sleep_ms(1000);
}

TEST_F(QklogStalls, AStoppedHolderOfTheMutexHoldsNoProcessUpForLong) {
  ASSERT_EQ(writer(0, 1, ERROR).exit_code, 0u);
  set("FAKEJAVA_EXIT", "3");
  const std::string pid_file = dir_ / "holder.pid";
  const int pid_fd = open(pid_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Started holder(testsupport::child_command("QklogMutexHolderStops"), pid_fd, dir_ / "holder.err");
  close(pid_fd);
  for (int i = 0; i < 1000 && testsupport::read_file(pid_file).empty(); ++i) platform::sleep_ms(10);
  const std::string holder_pid = std::to_string(holder.pid());
  ASSERT_EQ(testsupport::read_file(pid_file), holder_pid + "\n") << testsupport::read_file(dir_ / "holder.err");

  // All at once, each bounded by the 5-second wait (and at most 60 seconds here).
  Ended status, add, writing, launcher;
  std::vector<std::thread> runs;
  runs.emplace_back([&] { status = run_within(qklog_command({"status"}), 60); });
  runs.emplace_back([&] { add = run_within(qklog_command({"filter", "add", "--pid", "1", "--level", "ERROR"}), 60); });
  runs.emplace_back([&] { writing = run_within(writer_command(1, 3), 60); });
  runs.emplace_back([&] { launcher = run_within({testsupport::sibling_program("Brimvale"), "a"}, 60); });
  for (auto& t : runs) t.join();

  const std::string named = "another process has held it for 5 seconds: process " + holder_pid;
  EXPECT_EQ(status.code, 5) << status.err;
  EXPECT_NE(status.err.find(named), std::string::npos) << status.err;
  EXPECT_NE(status.out.find("log directory"), std::string::npos) << "the block is shown as it is";
  EXPECT_EQ(add.code, 5) << add.err;
  EXPECT_NE(add.err.find(named + "); nothing changed"), std::string::npos) << add.err;

  // The writer tells the outage once, with the holder, and keeps every record on standard
  // error (it could not claim its file's entry without the mutex); it waits the bound once,
  // not once per record.
  EXPECT_EQ(writing.code, 0) << writing.err;
  EXPECT_EQ(count_of(writing.err, "cannot be had: another process has held it for 5 seconds (process " +
                                      holder_pid + ")"), 1) << writing.err;
  for (int j = 0; j < 3; ++j)
    EXPECT_EQ(count_of(writing.err, "writer 1 record " + std::to_string(j) + "\n"), 1) << writing.err;
  EXPECT_LT(writing.seconds, 9.0);
  EXPECT_EQ(launcher.code, 3) << launcher.err;
  EXPECT_LT(launcher.seconds, 15.0);
  EXPECT_EQ(records_of(1), 0);

  // Once the holder is gone, records reach the file again.
  kill(holder.pid(), SIGKILL);
  const Ended after = run_within(writer_command(2, 2), 60);
  EXPECT_EQ(after.code, 0);
  EXPECT_EQ(after.err, "");
  EXPECT_EQ(records_of(2), 2);
}

// A reader whose output is not read (a pager left open) beside writers: the tail copies
// under the mutex and prints after releasing it, so that its blocked output stops only
// itself.
TEST_F(QklogStalls, ATailWhoseOutputIsNotReadHoldsNoWriterUp) {
  set("QK_LOGFILE_LIMIT", "2000");
  ASSERT_EQ(writer(0, 1, ERROR).exit_code, 0u);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  // Full before the tail writes its first byte, so that every write of it blocks.
  fcntl(pipe_fds[1], F_SETFL, O_NONBLOCK);
  const std::string filler(4096, 'f');
  while (write(pipe_fds[1], filler.data(), filler.size()) > 0) {
  }
  fcntl(pipe_fds[1], F_SETFL, 0);

  Started tail(qklog_command({"tail", "-n", "0", "-f"}), pipe_fds[1], dir_ / "tail.err");
  platform::sleep_ms(1000);  // it has found its place and follows
  // Stopped while the writers go more than half the ring of files on, the tail catches up
  // under the mutex when it goes on.
  kill(tail.pid(), SIGSTOP);
  const Ended ahead = run_within(writer_command(1, 150), 60);
  ASSERT_EQ(ahead.code, 0) << ahead.err;
  ASSERT_GE(snapshot().files[0].file_number, 6);
  kill(tail.pid(), SIGCONT);
  platform::sleep_ms(500);

  const Ended beside = run_within(writer_command(2, 20), 60);
  EXPECT_EQ(beside.code, 0);
  EXPECT_EQ(beside.err, "") << "the writer waited for the mutex";
  EXPECT_LT(beside.seconds, 4.0);
  EXPECT_EQ(records_of(2), 20);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
}

// A user who may read the installation but not write it (the usual umask 022): looking
// works, changing is refused for want of permission, and neither says that nothing has
// logged.
TEST_F(Qklog, AnotherUserWhoMayOnlyReadTheInstallationCanLook) {
  ASSERT_EQ(writer(0, 1, ERROR).exit_code, 0u);
  for (const std::string& folder : {dir_.path(), root_, root_ + "/site", root_ + "/site/shm", log_dir()})
    ASSERT_EQ(chmod(folder.c_str(), 0755), 0) << folder;
  auto as_other = [&](const std::vector<std::string>& args, platform::testing::OtherUserRun* run) {
    std::vector<std::string> argv = {testsupport::sibling_program("qklog")};
    argv.insert(argv.end(), args.begin(), args.end());
    return platform::testing::run_as_other_user(argv, run);
  };
  platform::testing::OtherUserRun status;
  if (!as_other({"status"}, &status)) GTEST_SKIP() << "only root may run a program as another user";
  EXPECT_EQ(status.exit_code, 0) << status.err;
  EXPECT_EQ(status.err, "qklog: this user may not take the log block's mutex " + memlgqk_mutex_name(key_ + 1) +
                            "; showing the block as it is\n");
  platform::testing::OtherUserRun list, offset, tail, add;
  ASSERT_TRUE(as_other({"filter", "list"}, &list));
  EXPECT_EQ(list.exit_code, 0) << list.err;
  ASSERT_TRUE(as_other({"offset"}, &offset));
  EXPECT_EQ(offset.exit_code, 0) << offset.err;
  ASSERT_TRUE(as_other({"tail", "-n", "1"}, &tail));
  EXPECT_EQ(tail.exit_code, 0) << tail.err;
  const MEMORY_LGQK before = snapshot();
  ASSERT_TRUE(as_other({"filter", "add", "--source", "x", "--level", "ERROR"}, &add));
  EXPECT_EQ(add.exit_code, 3);
  EXPECT_NE(add.err.find("qklog: the log block for the key " + std::to_string(key_) +
                         " cannot be changed: no permission ("),
            std::string::npos)
      << add.err;
  const MEMORY_LGQK after = snapshot();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

#endif

// Tests a MILESTONE record from qklog_writer until one passes, for at most the seconds
// given ("--seconds=N"): exit code 0 when one passed, 1 when none did. After its first
// failing tests it logs "tests fail" at ERROR.
TEST(DISABLED_ChildScenario, QklogWaitForFilter) {
  int seconds = 0;
  for (const std::string& arg : testsupport::child_arguments())
    if (arg.rfind("--seconds=", 0) == 0) seconds = std::atoi(arg.c_str() + 10);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (int tests = 0; std::chrono::steady_clock::now() < end; ++tests) {
    if (stdlog->isOn(writer_source.c_str(), __LINE__, MILESTONE)) {
      stdlog->stream() << "a MILESTONE record passed";
      stdlog->commit();
      return;
    }
    if (tests == 100 && stdlog->isOn(writer_source.c_str(), __LINE__, ERROR)) {
      stdlog->stream() << "tests fail";
      stdlog->commit();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ADD_FAILURE() << "no MILESTONE record passed in " << seconds << " seconds";
}

// A writer: "--writer=ID,COUNT,LEVEL" on its command line.
TEST(DISABLED_ChildScenario, QklogWriter) {
  int id = 0, count = 0, level = ERROR;
  for (const std::string& arg : testsupport::child_arguments())
    if (arg.rfind("--writer=", 0) == 0) std::sscanf(arg.c_str() + 9, "%d,%d,%d", &id, &count, &level);
  for (int j = 0; j < count; ++j) {
    if (stdlog && stdlog->isOn(writer_source.c_str(), __LINE__, level)) {
      stdlog->stream() << "writer " << id << " record " << j;
      stdlog->commit();
    }
  }
}

}  // namespace
