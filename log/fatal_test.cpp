// Fatal errors and exit handling. The paths that end the process run in a child copy of
// this test program (the disabled suite ChildScenario, run only on request).
#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "log/detail/logstate.h"
#include "log/logger.h"
#include "platform/process/process.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"
#include "tests/support/scoped_override.h"

namespace {

const int kFatalExit = testsupport::observed_exit_code(999);
constexpr std::size_t kTag = 10;      // "LoggerQK: "
constexpr std::size_t kPrefix = 99;

using testsupport::run_child;

void exitFirst(const char* file, int line, int level, const char* text) {
  std::fprintf(stderr, "first %s %d %d %s\n", file, line, level, text);
}
void exitSecond(const char* file, int line, int level, const char* text) {
  std::fprintf(stderr, "second %s %d %d %s\n", file, line, level, text);
}
template <int N>
void exitNumbered(const char*, int, int, const char*) {
  std::fprintf(stderr, "%d ", N);
}
template <int... N>
std::vector<LogExitFunction> numberedExits(std::integer_sequence<int, N...>) {
  return {exitNumbered<N>...};
}
void exitRegistering(const char*, int, int, const char*) {
  addExitFunction(exitFirst);  // refused: the table is running
  std::fprintf(stderr, "registering ");
}

struct AtExitNote {
  ~AtExitNote() { std::fputs("destructor\n", stderr); }
};

void logAndCommit(int level, const char* source, int line, const std::string& text) {
  ASSERT_TRUE(stdlog && stdlog->isOn(source, line, level));
  stdlog->stream() << text;
  stdlog->commit();
}

TEST(DISABLED_ChildScenario, ExitRecord) {
  static AtExitNote note;
  addExitFunction(exitFirst);
  addExitFunction(exitFirst);
  addExitFunction(exitSecond);
  logAndCommit(EXIT, "src/ender", 77, "bye");
}

TEST(DISABLED_ChildScenario, FatalRecord) {
  static AtExitNote note;
  addExitFunction(exitFirst);
  logAndCommit(FATAL, "src/fat", 5, std::string(400, 'z'));
}

TEST(DISABLED_ChildScenario, ExitTable) {
  std::vector<LogExitFunction> f = numberedExits(std::make_integer_sequence<int, 51>());
  for (LogExitFunction e : f) addExitFunction(e);  // the 51st finds no slot
  removeExitFunction(f[3]);
  addExitFunction(f[50]);  // takes the first empty slot
  removeExitFunction(f[7]);
  addExitFunction(exitRegistering);
  logAndCommit(RESTART, "restart", 1, "again");
}

// More than any process can have: a quarter of the address space is only 1 GB on a 32-bit
// build, which the heap may well give.
constexpr std::size_t kImpossibleSize = static_cast<std::size_t>(-1) - 0xFFFF;

TEST(DISABLED_ChildScenario, AllocationFailure) {
  volatile std::size_t huge = kImpossibleSize;
  char* p = new char[huge];
  std::printf("allocated %p\n", static_cast<void*>(p));
}

TEST(DISABLED_ChildScenario, AllocationFailureWithoutLogger) {
  testsupport::ScopedOverride<LOGGER_QK*> no_logger(stdlog, nullptr);
  volatile std::size_t huge = kImpossibleSize;
  try {
    char* p = new char[huge];
    std::printf("allocated %p\n", static_cast<void*>(p));
  } catch (const std::bad_alloc&) {
    std::fputs("bad_alloc\n", stderr);
  }
}

TEST(DISABLED_ChildScenario, LoggerFatalError) {
  fatalError("LOGGER:  couldn't create log file ", "/x/stdlog.0", " ", "Permission denied (13)");
}

// The record line "LoggerQK: <prefix><text>\n" at the start of err: its prefix.
std::string recordPrefix(const std::string& err) {
  EXPECT_EQ("LoggerQK: ", err.substr(0, kTag));
  return err.substr(kTag, kPrefix);
}

TEST(ExitHandling, ExitRecordRunsExitFunctionsOnceThenDestructors) {
  testsupport::Run r = run_child("ExitRecord");
  EXPECT_EQ(kFatalExit, static_cast<int>(r.exit_code)) << r.err;
  const std::string prefix = recordPrefix(r.err);
  EXPECT_EQ("LoggerQK: " + prefix + "bye\n" + "first ender 77 32778 bye\n" +
                "second ender 77 32778 bye\n" + "destructor\n",
            r.err);
  EXPECT_EQ("EXIT         ender                   77 ", prefix.substr(59));
}

TEST(ExitHandling, FatalRecordShowsPrefixAndTextCutAt300) {
  testsupport::Run r = run_child("FatalRecord");
  EXPECT_EQ(kFatalExit, static_cast<int>(r.exit_code)) << r.err;
  const std::string prefix = recordPrefix(r.err);
  const std::string message = (prefix + " " + std::string(400, 'z')).substr(0, 300);
  EXPECT_EQ("LoggerQK: " + prefix + std::string(400, 'z') + "\n" + "first  0 32768 " + message +
                "\n" + "\n" + message,
            r.err);  // no destructor ran
}

TEST(ExitHandling, FiftySlotsInSlotOrderAndNoneAddedWhileRunning) {
  testsupport::Run r = run_child("ExitTable");
  EXPECT_EQ(kFatalExit, static_cast<int>(r.exit_code));
  std::string expected = "0 1 2 50 4 5 6 registering ";
  for (int i = 8; i < 50; ++i) expected += std::to_string(i) + " ";
  EXPECT_EQ(expected, r.err.substr(r.err.find('\n') + 1));
}

// AddressSanitizer's and ThreadSanitizer's operator new report a failed allocation and
// abort themselves, before any new-handler could run.
#if defined(QK_ADDRESS_SANITIZER) || defined(QK_THREAD_SANITIZER)
#define QK_NEW_HANDLER_UNTESTABLE 1
#endif

TEST(ExitHandling, AllocationFailureIsReportedAndFatal) {
#ifdef QK_NEW_HANDLER_UNTESTABLE
  GTEST_SKIP() << "the sanitizer's allocator never calls the new-handler";
#endif
  testsupport::Run r = run_child("AllocationFailure");
  EXPECT_EQ(kFatalExit, static_cast<int>(r.exit_code)) << r.err;
  const std::string text = "Operator ::new cannot allocate 0 bytes";
  ASSERT_EQ(text + "\n", r.err.substr(0, text.size() + 1));
  const std::string rest = r.err.substr(text.size() + 1);
  const std::string prefix = recordPrefix(rest);
  EXPECT_EQ("FATAL        init                   363 ", prefix.substr(59));
  EXPECT_EQ("LoggerQK: " + prefix + text + "\n\n" + prefix + " " + text, rest);
}

TEST(ExitHandling, AllocationFailureWithoutLoggerThrows) {
#ifdef QK_NEW_HANDLER_UNTESTABLE
  GTEST_SKIP() << "the sanitizer's allocator never calls the new-handler";
#endif
  testsupport::Run r = run_child("AllocationFailureWithoutLogger");
  EXPECT_EQ(0u, r.exit_code) << r.out;
  EXPECT_EQ("Operator ::new cannot allocate 0 bytes\nbad_alloc\n", r.err);
}

TEST(ExitHandling, LoggerFatalErrorJoinsPartsWithSpaces) {
  testsupport::Run r = run_child("LoggerFatalError");
  EXPECT_EQ(kFatalExit, static_cast<int>(r.exit_code));
  EXPECT_EQ("\nLOGGER:  couldn't create log file  /x/stdlog.0   Permission denied (13)", r.err);
}

TEST(FatalMessage, PartsAreJoinedAndCutAt300) {
  EXPECT_STREQ("LOGGER:  File table full", composeFatalMessage("LOGGER:  File table full"));
  EXPECT_STREQ("", composeFatalMessage(nullptr, nullptr));
  EXPECT_STREQ("a b", composeFatalMessage(nullptr, "a", nullptr, "b"));
  EXPECT_STREQ("", composeFatalMessage("", "", ""));
  EXPECT_STREQ("a  b", composeFatalMessage("a", "", "b"));
  EXPECT_STREQ("a   b", composeFatalMessage("a", " ", "b"));
  const std::string a298(298, 'a'), a299(299, 'a');
  EXPECT_EQ(a298 + " x", composeFatalMessage(a298.c_str(), "xyz"));
  EXPECT_EQ(a299, composeFatalMessage(a299.c_str(), "xyz"));
  EXPECT_EQ(std::string(300, 'b'), composeFatalMessage(std::string(500, 'b').c_str(), "c"));
}

int log_exit_calls = 0;
std::string log_exit_seen;
void logExitOne(const char* file, int line, int level, const char* text) {
  ++log_exit_calls;
  log_exit_seen = std::string(file) + " " + std::to_string(line) + " " + std::to_string(level) +
                  " " + text;
}
void logExitTwo(const char*, int, int, const char*) { log_exit_seen = "two"; }

TEST(ExitHandling, LogExitFunctionSeesEveryOtherRecord) {
  const int saved_level = stdlog->level();
  stdlog->setLevel(MINIMUM);
  testing::internal::CaptureStderr();
  setLogExitFunction(logExitOne);
  setLogExitFunction(logExitOne);  // the same one again is fine
  logAndCommit(ERROR, "dir/caller", 12, "first");
  EXPECT_EQ("caller 12 32808 first", log_exit_seen);
  setLogExitFunction(logExitTwo);  // refused, and said so
  EXPECT_EQ("logger 959 32808 Unable to set log exit function - already active", log_exit_seen);
  setLogExitFunction(nullptr);
  logAndCommit(ERROR, "caller", 13, "second");
  EXPECT_EQ(2, log_exit_calls);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, err.find("Unable to set log exit function - already active\n"));
  stdlog->setLevel(saved_level);
}

}  // namespace
