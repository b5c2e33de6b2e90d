// The one way a test runs a child process of its own: the test program runs itself again
// with one scenario of the disabled suite ChildScenario. A path that ends the process, a
// setting read once per process, or a second process of an installation is checked from
// outside, by the child's exit code and output.
//
//   TEST(DISABLED_ChildScenario, MissingRoot) { env_lookup("QKT_X", 0); }
//
//   TEST(EnvLoad, MissingRootIsFatal) {
//     testsupport::Run r = testsupport::run_child("MissingRoot", ChildOptions().unset("QK_ROOT"));
//     EXPECT_EQ(testsupport::observed_exit_code(999), static_cast<int>(r.exit_code));
//     EXPECT_EQ("\n/etc/tallowin.ini -- not found\n", r.err);
//   }
//
// In the child the test program reports nothing of its own: standard output and standard
// error hold exactly what the scenario wrote (Windows' CR LF read as LF). A check that
// fails in the scenario adds its message to standard error and makes the exit code 1; a
// scenario name that names no scenario gives kNoSuchScenario.
#ifndef QK_TESTS_SUPPORT_TEST_CHILD_H
#define QK_TESTS_SUPPORT_TEST_CHILD_H

#include <string>
#include <utility>
#include <vector>

#include "tests/support/testsupport.h"

namespace testsupport {

// The exit code of a child whose scenario name names no test of the program.
constexpr unsigned long kNoSuchScenario = 120;

// What the child gets besides the parent's environment.
class ChildOptions {
 public:
  // A variable set (or removed) in the child's environment only.
  ChildOptions& set(const std::string& name, const std::string& value);
  ChildOptions& unset(const std::string& name);
  // The text the child reads from standard input (empty: an empty input).
  ChildOptions& input(const std::string& text);
  // An argument after the scenario's name, read in the child with child_arguments().
  ChildOptions& argument(const std::string& arg);

  struct Variable {
    std::string name;
    bool set;
    std::string value;
  };
  const std::vector<Variable>& variables() const { return variables_; }
  const std::string& stdin_text() const { return stdin_text_; }
  const std::vector<std::string>& arguments() const { return arguments_; }

 private:
  std::vector<Variable> variables_;
  std::string stdin_text_;
  std::vector<std::string> arguments_;
};

// Runs the scenario DISABLED_ChildScenario.<scenario> in a child copy of the running test
// program and waits for it. Children without variables of their own may run at the same
// time from several threads; one with variables runs alone, since the variables pass
// through this process's environment.
Run run_child(const std::string& scenario, const ChildOptions& options = ChildOptions());

// The child's program and arguments, for a test that starts the child another way (as
// another user, say).
std::vector<std::string> child_command(const std::string& scenario,
                                       const std::vector<std::string>& arguments = {});

// In a child: the arguments given after the scenario's name.
std::vector<std::string> child_arguments();

namespace internal {
// For the test programs' main function: keeps the command line, and turns a child's
// "--qk_child_scenario=NAME" into GoogleTest's selection of that one disabled test.
// True when the program runs as a child.
bool start_child_scenario(int argc, char** argv);
}  // namespace internal

}  // namespace testsupport

#endif
