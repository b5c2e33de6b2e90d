// Stack walking and symbols below the engine: the caller's own frame first, a context
// taken in a signal handler walked back into the code it interrupted.
#include "platform/stackwalk/stackwalk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

namespace {

std::string base_of(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The first looked-up frame of an address.
platform::SymbolFrame symbols_of(const platform::StackAddress& address) {
  std::vector<platform::SymbolFrame> out;
  EXPECT_TRUE(platform::lookup_symbols(address, out, nullptr));
  return out.empty() ? platform::SymbolFrame() : out.front();
}

volatile int captures = 0;

__attribute__((noinline)) int capture_here(platform::StackAddress* frames, int max) {
  const int count = platform::capture_stack(frames, max, nullptr);
  captures = captures + 1;  // work after the call keeps this frame on the stack
  return count;
}

TEST(StackWalk, TheCallerIsFrameZero) {
  platform::StackAddress frames[64];
  const int count = capture_here(frames, 64);
  ASSERT_GT(count, 2);
  const platform::SymbolFrame first = symbols_of(frames[0]);
  EXPECT_NE(std::string::npos, first.function.find("capture_here")) << first.function;
  EXPECT_EQ("stackwalk_test.cpp", base_of(first.file));
  EXPECT_GT(first.line, 0);
  EXPECT_FALSE(first.module.empty());
  EXPECT_EQ(2, capture_here(frames, 2));
}

#ifdef _WIN32
__attribute__((noinline)) int walk_own_context(platform::StackAddress* frames, int max) {
  CONTEXT context;
  RtlCaptureContext(&context);
  const int count = platform::capture_stack_from_context(&context, frames, max, nullptr);
  captures = captures + 1;
  return count;
}

TEST(StackWalk, AContextTakenHereWalksFromHere) {
  platform::StackAddress frames[64];
  const int count = walk_own_context(frames, 64);
  ASSERT_GT(count, 2);
  EXPECT_FALSE(frames[0].return_address);
#ifdef _WIN64
  EXPECT_NE(std::string::npos, symbols_of(frames[0]).function.find("walk_own_context"));
  EXPECT_NE(std::string::npos, symbols_of(frames[1]).function.find("AContextTakenHereWalksFromHere"));
#else
  // On i386 RtlCaptureContext takes its caller's frame from the frame-pointer chain: the
  // context is that of the caller's caller (Eip its return address), here the test's.
  EXPECT_NE(std::string::npos, symbols_of(frames[0]).function.find("AContextTakenHereWalksFromHere"));
#endif
}
#else
std::vector<std::string> handler_functions;

void walk_from_handler(int, siginfo_t*, void* context) {
  platform::StackAddress frames[64];
  const int count = platform::capture_stack_from_context(context, frames, 64, nullptr);
  for (int i = 0; i < count; ++i) handler_functions.push_back(symbols_of(frames[i]).function);
}

__attribute__((noinline)) void interrupted_function() {
  raise(SIGUSR1);
  handler_functions.push_back("(after)");
}

TEST(StackWalk, ASignalHandlersContextWalksBackIntoTheInterruptedCode) {
  struct sigaction action = {};
  struct sigaction saved = {};
  action.sa_sigaction = walk_from_handler;
  action.sa_flags = SA_SIGINFO;
  ASSERT_EQ(0, sigaction(SIGUSR1, &action, &saved));
  handler_functions.clear();
  interrupted_function();
  sigaction(SIGUSR1, &saved, nullptr);
  bool found = false;
  for (const std::string& name : handler_functions) found = found || name.find("interrupted_function") != std::string::npos;
  EXPECT_TRUE(found);
  EXPECT_GT(handler_functions.size(), 3u);
  // The handler itself is not on the context's stack.
  for (const std::string& name : handler_functions) EXPECT_EQ(std::string::npos, name.find("walk_from_handler"));
}

TEST(StackWalk, ANullContextIsRefused) {
  platform::StackAddress frames[4];
  EXPECT_EQ(-1, platform::capture_stack_from_context(nullptr, frames, 4, nullptr));
}
#endif

}  // namespace
