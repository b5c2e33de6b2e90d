#include "tests/support/test_child.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <shared_mutex>

#include "platform/process/process.h"

namespace testsupport {

namespace {

const char kScenarioOption[] = "--qk_child_scenario=";

std::vector<std::string>& arguments_after_scenario() {
  static std::vector<std::string> args;
  return args;
}

// Children with variables of their own change this process's environment while they
// start; every other child waits for that to end.
std::shared_mutex& environment_lock() {
  static std::shared_mutex lock;
  return lock;
}

}  // namespace

ChildOptions& ChildOptions::set(const std::string& name, const std::string& value) {
  variables_.push_back(Variable{name, true, value});
  return *this;
}

ChildOptions& ChildOptions::unset(const std::string& name) {
  variables_.push_back(Variable{name, false, std::string()});
  return *this;
}

ChildOptions& ChildOptions::input(const std::string& text) {
  stdin_text_ = text;
  return *this;
}

ChildOptions& ChildOptions::argument(const std::string& arg) {
  arguments_.push_back(arg);
  return *this;
}

std::vector<std::string> child_command(const std::string& scenario, const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {platform::program_path(), kScenarioOption + scenario};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

Run run_child(const std::string& scenario, const ChildOptions& options) {
  std::string line;
  for (const std::string& arg : child_command(scenario, options.arguments()))
    line += (line.empty() ? "" : " ") + quote_arg(arg);
  Run r;
  if (options.variables().empty()) {
    std::shared_lock<std::shared_mutex> shared(environment_lock());
    r = run(line, options.stdin_text());
  } else {
    std::unique_lock<std::shared_mutex> alone(environment_lock());
    std::vector<std::unique_ptr<ScopedEnv>> variables;
    for (const ChildOptions::Variable& v : options.variables())
      variables.emplace_back(new ScopedEnv(v.name, v.set ? v.value.c_str() : nullptr));
    r = run(line, options.stdin_text());
  }
  r.out = unix_lines(r.out);
  r.err = unix_lines(r.err);
  return r;
}

std::vector<std::string> child_arguments() { return arguments_after_scenario(); }

namespace internal {

bool start_child_scenario(int argc, char** argv) {
  const std::string option = kScenarioOption;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.compare(0, option.size(), option) != 0) continue;
    arguments_after_scenario().assign(argv + i + 1, argv + argc);
    GTEST_FLAG_SET(filter, "DISABLED_ChildScenario." + arg.substr(option.size()));
    GTEST_FLAG_SET(also_run_disabled_tests, true);
    return true;
  }
  return false;
}

}  // namespace internal

}  // namespace testsupport
