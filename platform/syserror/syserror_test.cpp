// Error texts: every number below the library's count has a message, and the system's
// table answers for the codes the framework reports.
#include "platform/syserror/syserror.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(SystemErrors, TheLibrarysMessagesAreItsOwn) {
  ASSERT_GT(platform::c_error_count(), 2);
  for (int n = 0; n < platform::c_error_count(); ++n) ASSERT_NE(nullptr, platform::c_error_message(n)) << n;
  EXPECT_STREQ(std::strerror(2), platform::c_error_message(2));
}

TEST(SystemErrors, TheSystemTableKnowsFileNotFound) {
  // 2 is "file not found" in both the C library's and the Windows table.
  const std::string text = platform::system_message(2);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(std::string::npos, text.find('\0'));
}
