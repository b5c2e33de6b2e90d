// The environment as _putenv keeps it: set, replace, remove, and every entry listed once.
#include "platform/environment/environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

int count_entries(const std::string& prefix) {
  const std::vector<std::string> entries = platform::environment_entries();
  return static_cast<int>(std::count_if(entries.begin(), entries.end(), [&](const std::string& e) {
    return e.compare(0, prefix.size(), prefix) == 0;
  }));
}

}  // namespace

TEST(Environment, SetReplaceAndRemove) {
  const char* name = "QK_PLATFORM_ENV_CONTRACT";
  ASSERT_EQ(nullptr, platform::get_env(name));
  ASSERT_EQ(0, platform::put_env(std::string(name) + "=first value"));
  ASSERT_NE(nullptr, platform::get_env(name));
  EXPECT_STREQ("first value", platform::get_env(name));
  EXPECT_EQ(1, count_entries(std::string(name) + "="));

  // The text is copied: changing the caller's string changes nothing.
  std::string assignment = std::string(name) + "=second";
  ASSERT_EQ(0, platform::put_env(assignment));
  assignment.assign(assignment.size(), 'x');
  EXPECT_STREQ("second", platform::get_env(name));
  EXPECT_EQ(1, count_entries(std::string(name) + "="));

  // A value may hold '='.
  ASSERT_EQ(0, platform::put_env(std::string(name) + "=a=b"));
  EXPECT_STREQ("a=b", platform::get_env(name));

  // "NAME=" removes the variable.
  ASSERT_EQ(0, platform::put_env(std::string(name) + "="));
  EXPECT_EQ(nullptr, platform::get_env(name));
  EXPECT_EQ(0, count_entries(std::string(name) + "="));
}

TEST(Environment, RefusesAnAssignmentWithoutAName) {
  EXPECT_NE(0, platform::put_env("no equals sign here"));
}
