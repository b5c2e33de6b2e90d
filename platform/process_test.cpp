#include <gtest/gtest.h>

#include "platform/process.h"

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
