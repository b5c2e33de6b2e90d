#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/process/process.h"
#include "tests/support/test_child.h"

using platform::split_command_line;
using V = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheWindowsRuntimeRules) {
  EXPECT_EQ(split_command_line(""), V{});
  EXPECT_EQ(split_command_line("  a \t b  "), (V{"a", "b"}));
  EXPECT_EQ(split_command_line("\"a b\" c"), (V{"a b", "c"}));
  EXPECT_EQ(split_command_line("x\"y z\"w"), (V{"xy zw"}));
  EXPECT_EQ(split_command_line("\"\""), (V{""}));
  // Backslashes are literal unless they precede a quote.
  EXPECT_EQ(split_command_line("a\\b c\\\\d"), (V{"a\\b", "c\\\\d"}));
  // 2n backslashes before a quote: n backslashes, and the quote acts.
  EXPECT_EQ(split_command_line("\"a\\\\\" b"), (V{"a\\", "b"}));
  // 2n+1 backslashes before a quote: n backslashes and a literal quote.
  EXPECT_EQ(split_command_line("a\\\"b"), (V{"a\"b"}));
  EXPECT_EQ(split_command_line("a\\\\\\\"b"), (V{"a\\\"b"}));
  // "" inside quotes is a literal quote.
  EXPECT_EQ(split_command_line("\"a\"\"b\" c"), (V{"a\"b", "c"}));
  EXPECT_EQ(split_command_line("\"unterminated arg"), (V{"unterminated arg"}));
}

// Writes its argument to standard output and standard error.
TEST(DISABLED_ChildScenario, EchoArgument) {
  const std::vector<std::string> args = testsupport::child_arguments();
  const std::string text = args.empty() ? "" : args[0];
  std::printf("%s\n", text.c_str());
  std::fprintf(stderr, "%s\n", text.c_str());
}

// Children started from several threads at once, each with its output redirected to files of
// its own: every one starts, and each file holds its own child's output only.
TEST(StartCommandLine, ChildrenStartedFromSeveralThreadsAtOnceEachGetTheirOwnFiles) {
  const int threads = 8, rounds = 4;
  std::vector<std::string> wrong;
  std::mutex wrong_mutex;
  std::vector<std::thread> starters;
  for (int t = 0; t < threads; ++t) {
    starters.emplace_back([t, &wrong, &wrong_mutex] {
      for (int round = 0; round < rounds; ++round) {
        const std::string token = "child-" + std::to_string(t) + "-" + std::to_string(round);
        const testsupport::Run r =
            testsupport::run_child("EchoArgument", testsupport::ChildOptions().argument(token));
        if (!r.started || r.exit_code != 0 || r.out != token + "\n" || r.err != token + "\n") {
          std::lock_guard<std::mutex> lock(wrong_mutex);
          wrong.push_back(token + ": started " + std::to_string(r.started) + ", exit " +
                          std::to_string(r.exit_code) + ", out \"" + r.out + "\", err \"" + r.err + "\"");
        }
      }
    });
  }
  for (std::thread& s : starters) s.join();
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " children went wrong, first: " << wrong[0];
}

#ifdef SIGCHLD
// A program that ignores SIGCHLD starts children from four threads at once: every child's
// exit code is read, and the program's disposition is its own again afterwards.
TEST(DISABLED_ChildScenario, StartsWithSigchldIgnored) {
  std::signal(SIGCHLD, SIG_IGN);
  std::vector<std::thread> starters;
  std::mutex wrong_mutex;
  int wrong = 0;
  for (int t = 0; t < 4; ++t) {
    starters.emplace_back([&wrong, &wrong_mutex] {
      for (int i = 0; i < 50; ++i) {
        const platform::CommandResult r = platform::run_command_line("true");
        if (!r.started || !r.exit_known || r.exit_code != 0) {
          std::lock_guard<std::mutex> lock(wrong_mutex);
          ++wrong;
        }
      }
    });
  }
  for (std::thread& s : starters) s.join();
  EXPECT_EQ(0, wrong) << "children whose exit code was lost";
  EXPECT_TRUE(std::signal(SIGCHLD, SIG_IGN) == SIG_IGN) << "SIGCHLD no longer ignored";
}

TEST(StartCommandLine, StartsFromSeveralThreadsKeepAnIgnoredSigchld) {
  // The moments at which no child is left are what goes wrong: several runs make them many.
  for (int run = 0; run < 10; ++run) {
    const testsupport::Run r = testsupport::run_child("StartsWithSigchldIgnored");
    ASSERT_EQ(0u, r.exit_code) << r.err;
  }
}
#endif
