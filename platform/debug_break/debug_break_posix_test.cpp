// The debugger check: a process without a tracer goes on past the break, and one traced by
// its parent stops there with SIGTRAP.
#include "platform/debug_break/debug_break.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(DebugBreak, WithoutADebuggerTheCallerGoesOn) {
  ASSERT_FALSE(platform::debugger_attached());
  platform::debug_break_if_attached();  // would end the test program with SIGTRAP
  SUCCEED();
}

TEST(DebugBreak, AnAttachedDebuggerStopsAtTheBreak) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The parent is the tracer; 2 tells it that tracing is refused here.
    const bool traced = ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0;
    const char verdict = traced ? (platform::debugger_attached() ? 1 : 0) : 2;
    if (write(ready[1], &verdict, 1) != 1) _exit(3);
    if (traced) platform::debug_break_if_attached();
    _exit(0);
  }
  close(ready[1]);
  char verdict = 0;
  ASSERT_EQ(read(ready[0], &verdict, 1), 1);
  close(ready[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (verdict == 2) {
    GTEST_SKIP() << "this system refuses ptrace";
  }
  EXPECT_EQ(verdict, 1) << "a traced process does not see its debugger";
  ASSERT_TRUE(WIFSTOPPED(status)) << "the traced process ran past the break";
  EXPECT_EQ(WSTOPSIG(status), SIGTRAP);
  kill(child, SIGKILL);
  ptrace(PTRACE_DETACH, child, nullptr, nullptr);
  waitpid(child, &status, 0);
}
