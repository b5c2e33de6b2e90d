// The stack-text seam: empty text without an engine, never a null pointer, and the
// installed source is asked with the caller's format until it is removed.
#include "platform/stackwalk/stacktrace_seam.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string last_format;
const char* answers = nullptr;

const char* fake_engine(const char* format) {
  last_format = format;
  return answers;
}

const char* other_engine(const char*) { return "other;"; }

}  // namespace

TEST(StackTextSeam, AsksTheInstalledSourceAndNeverAnswersNull) {
  // The platform's own tests link no engine.
  const platform::StackTextSource before = platform::set_stack_text_source(nullptr);
  EXPECT_STREQ(platform::stack_text("%f:%l;"), "");

  EXPECT_EQ(platform::set_stack_text_source(fake_engine), nullptr);
  answers = "main.cpp:12;";
  EXPECT_STREQ(platform::stack_text("%f:%l;"), "main.cpp:12;");
  EXPECT_EQ(last_format, "%f:%l;");
  answers = nullptr;  // a failed trace
  EXPECT_STREQ(platform::stack_text("%s"), "");
  EXPECT_EQ(last_format, "%s");

  EXPECT_EQ(platform::set_stack_text_source(other_engine), fake_engine);
  EXPECT_STREQ(platform::stack_text("%s"), "other;");
  EXPECT_EQ(platform::set_stack_text_source(before), other_engine);
}
