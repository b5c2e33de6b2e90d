// Without a desktop the message box is the caption, ": " and the text on standard error,
// and a missing caption or text is printed as nothing rather than read.
#include "platform/messagebox/messagebox.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string box(const char* caption, const char* text) {
  testing::internal::CaptureStderr();
  platform::message_box(caption, text, platform::BoxIcon::error);
  return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(MessageBox, GoesToStandardErrorAsCaptionAndText) {
  EXPECT_EQ(box("QK_ALLOC", "Free called befor alloc"), "QK_ALLOC: Free called befor alloc\n");
  EXPECT_EQ(box(nullptr, "text"), ": text\n");
  EXPECT_EQ(box("caption", nullptr), "caption: \n");
  // The text is printed as it is, never read as a format.
  EXPECT_EQ(box("%s%n", "100% %d"), "%s%n: 100% %d\n");
}
