// The stack-trace engine on a chain of known functions: frames, lines and names in order,
// the skip count, the frames the engine leaves out or stops at, the format language and
// its limit, inlined calls, deep stacks, traces taken by many threads at once, from a
// signal handler inside a trace, and from destructors that run at exit.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

#include "diag/stacktrace.h"
#include "diag/testdata/trace_helpers.h"
#include "log/internal/block.h"
#include "log/logfile.h"
#include "log/logger.h"
#include "memory/allocator.h"
#include "platform/testing/stackwalk_testing.h"
#include "platform/stackwalk/stacktrace_seam.h"
#include "tests/support/scoped_override.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

#define NOINLINE __attribute__((noinline))

namespace chain {

// Each function calls the next on the line noted above the call, and keeps working after
// the call so that no call becomes a jump.
std::string (*innermost)(const char* format, int skip) = nullptr;

constexpr int kLevel3Line = __LINE__ + 2;
NOINLINE std::string level3(const char* format, int skip) {
  std::string text = skip < 0 ? stacktrace(format) : stacktrace(format, skip);
  return text;
}
constexpr int kLevel2Line = __LINE__ + 2;
NOINLINE std::string level2(const char* format, int skip) {
  std::string text = level3(format, skip);
  return text;
}
constexpr int kLevel1Line = __LINE__ + 2;
NOINLINE std::string level1(const char* format, int skip) {
  std::string text = level2(format, skip);
  return text;
}

// The callbacks for the helpers in the special files.
constexpr int kCallbackLine = __LINE__ + 2;
NOINLINE std::string callback() {
  std::string text = stacktrace("%f:%l;");
  return text;
}
NOINLINE std::string named_callback() {
  std::string text = stacktrace("%f:%l:%s;");
  return text;
}
NOINLINE std::string function_callback() {
  std::string text = stacktrace("%s;");
  return text;
}

// depth frames of its own below the caller, the trace taken in the deepest.
NOINLINE std::string recurse(int depth, const char* format) {
  std::string text = depth <= 1 ? stacktrace(format) : recurse(depth - 1, format);
  text += "";
  return text;
}

}  // namespace chain

// Traces from the destructor of an object that is made before the engine's own
// module-level objects (this file comes first in the test program) and so is destroyed
// after them, at exit. The child scenario names what the destructor does.
namespace at_exit {

enum class Use { nothing, direct, severe_record, allocator_report };

struct TracesAtExit {
  LoggerGuard guard;  // stdlog lives as long as this object
  Use use = Use::nothing;
  ~TracesAtExit() {
    switch (use) {
      case Use::nothing:
        break;
      case Use::direct: {
        const std::string text = chain::level1("%f:%l;", -1);
        std::printf("[%s]\n", text.c_str());
        std::fflush(stdout);
        break;
      }
      case Use::severe_record:
        QK_LOG_AT("String", 77, SEVERE_ERROR) << "bad handle at exit";
        break;
      case Use::allocator_report: {
        ALLOCATOR_QK pool(48, 4, "AtExit48");
        void* p = pool.alloc();
        pool.free(p);
        pool.free(p);
        break;
      }
    }
    if (use != Use::nothing) {
      std::printf("destroyed\n");
      std::fflush(stdout);
    }
  }
} traces_at_exit;

}  // namespace at_exit

namespace {

std::string at(int line) { return "sym_engine_test.cpp:" + std::to_string(line) + ";"; }

std::string chain_prefix() { return at(chain::kLevel3Line) + at(chain::kLevel2Line) + at(chain::kLevel1Line); }

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

int count_of(const std::string& text, char c) {
  int n = 0;
  for (char x : text) n += x == c;
  return n;
}

TEST(StackTrace, NamesFilesAndLinesInOrderTheAskingFunctionFirst) {
  const int line = __LINE__ + 1;
  const std::string text = chain::level1("%f:%l;", -1);
  EXPECT_TRUE(starts_with(text, chain_prefix() + at(line))) << text;
}

TEST(StackTrace, NamesTheFunctions) {
  const std::string text = chain::level1("%s;", -1);
  EXPECT_TRUE(starts_with(text, "chain::level3();chain::level2();chain::level1();")) << text;
}

TEST(StackTrace, SkipCountsFramesFromTheCapture) {
  // Frame 0 is the engine's own capture: it is what the one-argument form skips.
  EXPECT_TRUE(starts_with(chain::level1("%f:%l;", 1), chain_prefix()));
  EXPECT_TRUE(starts_with(chain::level1("%f:%l;", 0), "sym_engine.cpp:"));
  const std::string two = chain::level1("%f:%l;", 3);
  EXPECT_TRUE(starts_with(two, at(chain::kLevel1Line))) << two;
  EXPECT_EQ("", chain::level1("%f:%l;", 100000));
}

TEST(StackTrace, LeavesOutFilesNamedStacktrace) {
  const int line = __LINE__ + 1;
  const std::string text = call_through_stacktrace_file(chain::callback);
  EXPECT_TRUE(starts_with(text, at(chain::kCallbackLine) + at(line))) << text;
}

TEST(StackTrace, EndsAtPortService) {
  const std::string text = call_through_port_service(chain::callback);
  EXPECT_EQ(at(chain::kCallbackLine) + "...", text);
}

// Windows' symbol library gives the code of a file without line data to the function
// before it, lines and all, so the case is one of the POSIX build's.
#ifndef _WIN32
TEST(StackTrace, FrameWithoutLineDataHasABlankFileAndLineZero) {
  const std::string text = call_without_line_data(chain::named_callback);
  const std::string first = "sym_engine_test.cpp:" + std::to_string(chain::kCallbackLine + 4) +
                            ":chain::named_callback();";
  EXPECT_TRUE(starts_with(text, first + " :0:call_without_line_data();")) << text;
}
#endif

TEST(StackTrace, NullFormatGivesTheEmptyText) {
  EXPECT_STREQ("", stacktrace(nullptr));
  EXPECT_STREQ("", stacktrace(nullptr, 0));
  EXPECT_STREQ("", stacktrace_from_context(nullptr, nullptr, 0));
}

TEST(StackTrace, PercentSignsAndUnknownDirectives) {
  const int frames = count_of(chain::level1("%l;", -1), ';');
  ASSERT_GT(frames, 4);
  std::string expected;
  for (int i = 0; i < frames; ++i) expected += "%%q[%";
  EXPECT_EQ(expected, chain::level1("%%%q[%", -1));
}

TEST(StackTrace, OtherDirectives) {
  const std::string text = chain::level1("%m|%p|%sd|%ld;", -1);
  const std::string first = text.substr(0, text.find(';'));
  std::istringstream fields(first);
  std::string module, path, sd, ld;
  std::getline(fields, module, '|');
  std::getline(fields, path, '|');
  std::getline(fields, sd, '|');
  std::getline(fields, ld, '|');
  EXPECT_NE(std::string::npos, module.find("diag_tests")) << text;
  EXPECT_NE(std::string::npos, path.find("diag")) << text;
  EXPECT_TRUE(path.size() > std::string("sym_engine_test.cpp").size()) << path;
  EXPECT_GT(std::stol(sd), 0) << text;
  EXPECT_GE(std::stol(ld), 0) << text;
}

TEST(StackTrace, StopsAtTheLastWholePieceThatFits) {
  // Single characters are pieces: the text fills up to 2047 characters.
  const std::string filler(2000, 'a');
  const std::string text = chain::level1((filler + "%s").c_str(), -1);
  EXPECT_EQ(filler + "chain::level3()" + std::string(2047 - 2015, 'a'), text);
  // A function name that would cross the limit is left out whole.
  const std::string wide(2040, 'a');
  EXPECT_EQ(wide, chain::level1((wide + "%s").c_str(), -1));
}

TEST(StackTrace, EachThreadGetsItsOwnWholeTrace) {
  std::vector<std::thread> threads;
  std::vector<int> bad(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &bad] {
      const std::string format = "%f:%l;" + std::string(1 + t, '#');
      for (int i = 0; i < 25; ++i) {
        const std::string text = chain::level1(format.c_str(), -1);
        std::string expected;
        for (int line : {chain::kLevel3Line, chain::kLevel2Line, chain::kLevel1Line})
          expected += at(line) + std::string(1 + t, '#');
        if (!starts_with(text, expected) ||
            count_of(text, '#') != (1 + t) * count_of(text, ';'))
          ++bad[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(0, bad[t]) << "thread " << t;
}

// A machine without the symbol library (libdw's runtime package on Linux, dbghelp.dll on
// Windows): the program runs, every trace is empty, and the problem is told once.
TEST(DISABLED_ChildScenario, TraceWithoutTheSymbolLibrary) {
  platform::testing::set_symbol_library("qk-no-such-symbol-library");
  const std::string first = stacktrace("%f:%l;");
  const std::string second = chain::level1("%f:%l;", -1);
  const std::string through_the_seam = platform::stack_text("%f:%l;");
  std::printf("[%s][%s][%s]\n", first.c_str(), second.c_str(), through_the_seam.c_str());
}

TEST(StackTrace, WithoutItsSymbolLibraryEveryTraceIsEmptyAndTheProblemToldOnce) {
  const testsupport::Run r = testsupport::run_child("TraceWithoutTheSymbolLibrary");
  EXPECT_EQ(0u, r.exit_code) << r.err;
  EXPECT_EQ("[][][]\n", r.out) << r.err;
  const std::string problem = "Failed to load library, qk-no-such-symbol-library";
  const std::size_t at = r.err.find(problem);
  EXPECT_NE(std::string::npos, at) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find(problem, at + 1)) << "told more than once:\n" << r.err;
}

TEST(StackTrace, TheSeamGivesTheEngineToTheLowerModules) {
  const int line = __LINE__ + 1;
  const std::string text = platform::stack_text("%f:%l;");
  EXPECT_TRUE(starts_with(text, at(line))) << text;
}

TEST(StackTrace, WalksEveryFrameOfADeepStack) {
  // 300 frames of the recursion, each "%l;" a few characters: the whole stack fits.
  const std::string text = chain::recurse(300, "%l;");
  EXPECT_GT(count_of(text, ';'), 300) << text;
  EXPECT_NE("...", text.substr(text.size() - 3)) << text;
}

TEST(StackTrace, AStackTooDeepToWalkEndsWithDots) {
  // The frames of the "stacktrace" file print nothing, so the text never fills up; the
  // walk stops at its frame limit and marks the frames it left out.
  const std::string text = call_deep_in_stacktrace_file(10000, chain::callback);
  EXPECT_EQ(at(chain::kCallbackLine) + "...", text);
}

TEST(StackTrace, AnInlinedCallIsAFrameOfItsOwn) {
  const std::string text = inlined_outer(chain::function_callback);
  EXPECT_TRUE(starts_with(text, "chain::function_callback();inlined_leaf();inlined_middle();inlined_outer();"))
      << text;
  const std::string lines = inlined_outer(chain::callback);
  EXPECT_TRUE(starts_with(lines, at(chain::kCallbackLine) + "inlined_calls.cpp:6;inlined_calls.cpp:11;inlined_calls.cpp:1"))
      << lines;
  // The function that holds the inlined call stands at the line of the call. (Wine's
  // 32-bit symbol library names the function's first line instead.)
#if !defined(_WIN32) || defined(_WIN64)
  EXPECT_TRUE(starts_with(lines, at(chain::kCallbackLine) + "inlined_calls.cpp:6;inlined_calls.cpp:11;inlined_calls.cpp:17;"))
      << lines;
#endif
}

// Traces from the destructor of an object that outlives the engine's module-level
// objects: after a first trace (which fills the engine's caches), the destructor traces
// directly, through a SEVERE_ERROR record and through an allocator's misuse report.
TEST(DISABLED_ChildScenario, TraceAtExit) {
  const std::string use = testsupport::child_arguments().at(0);
  ASSERT_NE("", chain::level1("%f:%l;", -1));
  at_exit::traces_at_exit.use = use == "direct"   ? at_exit::Use::direct
                                : use == "severe" ? at_exit::Use::severe_record
                                                  : at_exit::Use::allocator_report;
}

std::string record_line(const std::string& log, const std::string& part) {
  const std::size_t found = log.find(part);
  if (found == std::string::npos) return std::string();
  const std::size_t start = log.rfind('\n', found);
  const std::size_t end = log.find('\n', found);
  return log.substr(start == std::string::npos ? 0 : start + 1,
                    end == std::string::npos ? std::string::npos : end - (start == std::string::npos ? 0 : start + 1));
}

TEST(StackTrace, ADestructorThatRunsAtExitTraces) {
  const testsupport::Run direct = testsupport::run_child("TraceAtExit", testsupport::ChildOptions().argument("direct"));
  EXPECT_EQ(0u, direct.exit_code) << direct.err;
  // (The destructor's own frame follows; the 32-bit Windows build's line data may name
  // another line of it.)
  EXPECT_TRUE(starts_with(direct.out, "[" + chain_prefix() + "sym_engine_test.cpp:")) << direct.out << direct.err;
  EXPECT_NE(std::string::npos, direct.out.find("]\ndestroyed\n")) << direct.out;

  for (const char* use : {"severe", "allocator"}) {
    const testsupport::Run r = testsupport::run_child("TraceAtExit", testsupport::ChildOptions().argument(use));
    EXPECT_EQ(0u, r.exit_code) << use << "\n" << r.err;
    EXPECT_EQ("destroyed\n", r.out) << use << "\n" << r.err;
    const std::string err = testsupport::unix_lines(r.err);
    const std::string record = record_line(err, std::string(use) == "severe" ? "bad handle at exit"
                                                                             : "Attempt to free Allocator AtExit48");
    EXPECT_NE("", record) << use << "\n" << err;
    // The call stack stands in the SIGNIFICANT record before it.
    const std::string stack = record_line(err, "SIGNIFICANT");
    EXPECT_NE(std::string::npos, stack.find(";sym_engine_test.cpp:")) << use << "\n" << err;
  }
}

#ifndef _WIN32
// A SIGPROF handler traces the context it interrupted, while the thread it interrupted
// is itself tracing: the inner trace gives the empty text at once, and nothing waits.
namespace in_handler {

std::atomic<int> in_trace{0};
std::atomic<int> empty{0};
std::atomic<int> whole{0};  // traces of the handler's own, which overwrite the thread's text

void trace_interrupted(int, siginfo_t*, void* context) {
  const int saved_errno = errno;
  const bool inside = in_trace.load() != 0;
  const char* text = stacktrace_from_context(context, "%f:%l;", 0);
  if (inside && !*text) ++empty;
  if (*text) ++whole;
  errno = saved_errno;
}

}  // namespace in_handler

TEST(DISABLED_ChildScenario, TraceFromASignalHandlerInsideATrace) {
  alarm(30);  // a trace that waits on itself ends the child here
  struct sigaction action = {};
  action.sa_sigaction = in_handler::trace_interrupted;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(0, sigaction(SIGPROF, &action, nullptr));
  // The signal arrives only while the thread traces, so the handler never interrupts the
  // C library's allocator outside a trace.
  sigset_t prof;
  sigemptyset(&prof);
  sigaddset(&prof, SIGPROF);
  pthread_sigmask(SIG_BLOCK, &prof, nullptr);
  const pthread_t tracer = pthread_self();
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    while (!stop.load()) {
      pthread_kill(tracer, SIGPROF);
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int traces = 0;
  while ((in_handler::empty.load() < 50 || traces < 200) && std::chrono::steady_clock::now() < until) {
    // Nothing but the trace runs while the signal may come (no allocation of this loop's).
    const int whole_before = in_handler::whole.load();
    in_handler::in_trace = 1;
    pthread_sigmask(SIG_UNBLOCK, &prof, nullptr);
    const int line = __LINE__ + 1;
    const char* trace = stacktrace("%f:%l;");
    pthread_sigmask(SIG_BLOCK, &prof, nullptr);
    in_handler::in_trace = 0;
    const std::string text = trace;
    // (A handler that ran just before or after the trace wrote a text of its own.)
    if (in_handler::whole.load() == whole_before) {
      ASSERT_TRUE(starts_with(text, at(line))) << text;
    }
    ++traces;
  }
  stop = true;
  sender.join();
  std::printf("%s\n", in_handler::empty.load() >= 50 ? "interrupted traces seen" : "too few interrupted traces");
}

TEST(StackTrace, ATraceInsideATraceOnTheSameThreadNeverWaits) {
  // The handler's traces that interrupt no trace allocate, which ThreadSanitizer reports
  // for any signal handler; here the signal comes only while the thread holds no lock of
  // the allocator's.
  const char* tsan = std::getenv("TSAN_OPTIONS");
  const std::string options = std::string(tsan ? tsan : "") + " report_signal_unsafe=0";
  const testsupport::Run r = testsupport::run_child("TraceFromASignalHandlerInsideATrace",
                                                    testsupport::ChildOptions().set("TSAN_OPTIONS", options));
  EXPECT_EQ(0u, r.exit_code) << r.err;
  EXPECT_EQ("interrupted traces seen\n", r.out) << r.err;
}
#endif

// Records go to a log file of a block of the test's own.
class StackTraceLog : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_block_ = logimpl::logBlock();
    block_ = MEMORY_LGQK();
    std::memcpy(block_.log_directory, dir_.path().data(), dir_.path().size());
    logimpl::attachLogBlock(&block_, nullptr, nullptr, true);
    logger_ = new LOGGER_QK(".", "trace.%1", 0x10000);
    logger_->setLevel(MINIMUM);
  }
  void TearDown() override {
    delete logger_;
    logimpl::attachLogBlock(saved_block_, nullptr, nullptr, false);
  }
  std::vector<std::string> records() {
    std::vector<std::string> lines;
    std::istringstream in(testsupport::read_file(dir_ / "trace.0"));
    for (std::string line; std::getline(in, line);)
      if (line.size() > 99 && line[0] != '#') lines.push_back(line);
    return lines;
  }

  testsupport::TempDir dir_;
  MEMORY_LGQK block_;
  LOGGER_QK* logger_ = nullptr;

 private:
  MEMORY_LGQK* saved_block_ = nullptr;
};

TEST_F(StackTraceLog, LogStacktraceWritesOneRecord) {
  const int line = __LINE__ + 3;
  {
    testsupport::ScopedOverride<LOGGER_QK*> own_logger(stdlog, logger_);
    log_stacktrace(ERROR, "%f:%l;");
    log_stacktrace(TRACE, "%f:%l;");  // below the threshold
  }
  const std::vector<std::string> lines = records();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("stacktrace ", lines[0].substr(72, 11));
  EXPECT_TRUE(starts_with(lines[0].substr(99), at(line))) << lines[0];
}

TEST_F(StackTraceLog, SevereErrorRecordFollowsItsTrace) {
  const int line = __LINE__ + 3;
  ASSERT_TRUE(logger_->isOn("String", 77, SEVERE_ERROR));
  logger_->stream() << "bad handle";
  logger_->commit();
  const std::vector<std::string> lines = records();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("SIGNIFICANT  String", lines[0].substr(59, 19)) << lines[0];
  EXPECT_TRUE(starts_with(lines[0].substr(99), "logger.cpp:")) << lines[0];
  EXPECT_NE(std::string::npos, lines[0].find(";" + at(line))) << lines[0];
  EXPECT_EQ("SEVERE_ERROR String", lines[1].substr(59, 19)) << lines[1];
  EXPECT_EQ("bad handle", lines[1].substr(99));
}

}  // namespace
