// Who and where: names that fit the caller's buffer or are refused, and the system's name.
#include "platform/identity/identity.h"

#include <gtest/gtest.h>

#include <string>

TEST(Identity, ComputerNameIsShortAndFitsTheBuffer) {
  std::string name;
  ASSERT_TRUE(platform::computer_name(name, 256));
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(std::string::npos, name.find('.')) << "only the name up to the first dot";
  EXPECT_LT(name.size(), 256u);
}

TEST(Identity, UserNameIsGivenOrRefusedWhenItDoesNotFit) {
  std::string name;
  ASSERT_TRUE(platform::account_user_name(name, 257));
  ASSERT_FALSE(name.empty());
  std::string cut = "left over";
  // A buffer that holds only the terminating zero cannot take any name.
  EXPECT_FALSE(platform::account_user_name(cut, 1));
  EXPECT_TRUE(cut.empty());
}

TEST(Identity, SystemNameIsLowerCase) {
  const std::string system = platform::system_name();
  ASSERT_FALSE(system.empty());
  for (char c : system) EXPECT_FALSE(c >= 'A' && c <= 'Z') << system;
}
