// The test programs' one way to run a child (tests/support/test_child.h), checked where it
// runs first: the child's output is the scenario's alone, its variables, input and
// arguments are its own, and a failed check or an unknown scenario cannot pass unseen.
#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "platform/environment/environment.h"
#include "platform/process/process.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

namespace {

using testsupport::ChildOptions;
using testsupport::run_child;

TEST(DISABLED_ChildScenario, ChildEchoes) {
  const char* set = platform::get_env("QKT_CHILD_SET");
  const char* removed = platform::get_env("QKT_CHILD_REMOVED");
  std::string line;
  std::getline(std::cin, line);
  std::printf("set=%s removed=%s input=%s\n", set ? set : "(none)", removed ? removed : "(none)", line.c_str());
  for (const std::string& arg : testsupport::child_arguments()) std::printf("arg=[%s]\n", arg.c_str());
  std::fflush(stdout);
  std::fputs("to standard error\n", stderr);
  platform::exit_process_now(7);
}

TEST(DISABLED_ChildScenario, ChildFailsACheck) {
  EXPECT_EQ(1, 2) << "the child's own words";
  std::fputs("after the check\n", stderr);
}

TEST(TestChild, TheChildSeesItsOwnVariablesInputAndArguments) {
  testsupport::ScopedEnv removed("QKT_CHILD_REMOVED", "parent's");
  const testsupport::Run r = run_child("ChildEchoes", ChildOptions()
                                                          .set("QKT_CHILD_SET", "child's")
                                                          .unset("QKT_CHILD_REMOVED")
                                                          .input("typed line\n")
                                                          .argument("two words")
                                                          .argument("quote\"d"));
  EXPECT_EQ(7u, r.exit_code);
  EXPECT_EQ("set=child's removed=(none) input=typed line\narg=[two words]\narg=[quote\"d]\n", r.out);
  EXPECT_EQ("to standard error\n", r.err);
  // The parent's environment is as it was.
  EXPECT_EQ(nullptr, platform::get_env("QKT_CHILD_SET"));
  EXPECT_STREQ("parent's", platform::get_env("QKT_CHILD_REMOVED"));
  EXPECT_EQ("set=(none) removed=parent's input=\n", run_child("ChildEchoes").out);
}

TEST(TestChild, AFailedCheckInTheChildIsItsExitCodeAndMessage) {
  const testsupport::Run r = run_child("ChildFailsACheck");
  EXPECT_EQ(1u, r.exit_code);
  EXPECT_EQ("", r.out);
  EXPECT_NE(std::string::npos, r.err.find("the child's own words\n")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("after the check\n")) << r.err;
}

TEST(TestChild, AnUnknownScenarioIsNoSuccess) {
  const testsupport::Run r = run_child("NoSuchScenario");
  EXPECT_EQ(testsupport::kNoSuchScenario, r.exit_code);
  EXPECT_EQ("no scenario DISABLED_ChildScenario.NoSuchScenario in this program\n", r.err);
}

}  // namespace
