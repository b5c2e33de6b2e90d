// Problem reports, error texts and identity.
#include "env/qkos.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "env/internal/test_installation.h"
#include "platform/syserror.h"
#include "tests/support/testsupport.h"

namespace {

std::string with_number(int n) {
  return std::string(strerror(n)) + " (" + std::to_string(n) + ")";
}

TEST(ErrorText, LibraryNumbersCarryTheirMessageAndNumber) {
  EXPECT_EQ(with_number(2), error_text(2));
  EXPECT_EQ(with_number(2), error_text(-2));
  EXPECT_EQ(with_number(0), error_text(0));
}

TEST(ErrorText, SocketCodesByName) {
  EXPECT_STREQ("WSAECONNREFUSED (10061)", error_text(10061));
  EXPECT_STREQ("WSABASEERR (10000)", error_text(10000));
  EXPECT_STREQ("WSANO_DATA (11004)", error_text(-11004));
  EXPECT_STREQ("WSAHOST_NOT_FOUND (11001)", error_text(11001));
}

TEST(ErrorText, NumbersWithoutText) {
  EXPECT_STREQ("unknown err 10010", error_text(10010));
  EXPECT_STREQ("unknown err 5000", error_text(5000));
  EXPECT_STREQ("unknown err 11005", error_text(11005));
  EXPECT_STREQ("unknown err 2147483648", error_text(-2147483647 - 1));
  const int count = platform::c_error_count();
  ASSERT_GT(count, 2);
  if (count < 10000) {
    EXPECT_EQ("unknown err " + std::to_string(count), error_text(count));
  }
}

TEST(ReportMessage, WarningGoesToStandardErrorAndReturns) {
  testing::internal::CaptureStderr();
  int result = report_message("disk nearly full", REPORT_WARNING, 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ("\ndisk nearly full", err);
  EXPECT_EQ(17, result);
}

TEST(ReportMessageDeathTest, FatalSeveritiesEndWith999) {
  const int code = testsupport::observed_exit_code(999);
  EXPECT_EXIT(report_message("cannot go on", REPORT_FATAL_ABORT, 0),
              ::testing::ExitedWithCode(code), "\ncannot go on");
  EXPECT_EXIT(report_message("stop here", REPORT_FATAL, 0), ::testing::ExitedWithCode(code),
              "stop here");
}

}  // namespace

namespace {

// The host name is fixed by the first call in a process, so each case runs in a child.
TEST(LocalHostNameDeathTest, ConfiguredNameWinsAndStaysFixed) {
  EXPECT_EXIT(
      {
        envtest::Installation inst({"QK_LOCAL_HOST"});
        testsupport::set_env("QK_LOCAL_HOST", "farhost");
        bool first = strcmp(local_host_name(), "farhost") == 0;
        testsupport::set_env("QK_LOCAL_HOST", "otherhost");
        bool fixed = strcmp(local_host_name(), "farhost") == 0;
        fprintf(stderr, "first=%d fixed=%d", first, fixed);
        exit(first && fixed ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "first=1 fixed=1");
}

TEST(LocalHostNameDeathTest, ComputerNameWithoutDomain) {
  EXPECT_EXIT(
      {
        envtest::Installation inst({"QK_LOCAL_HOST"});
        const char* name = local_host_name();
        fprintf(stderr, "name=[%s]", name);
        exit(name[0] != '\0' && !strchr(name, '.') ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "name=\\[");
}

}  // namespace
