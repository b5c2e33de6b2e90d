// Problem reports, error texts and identity.
#include "env/qkos.h"

#include <gtest/gtest.h>
#include <ctype.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/env_installation.h"
#include "platform/testing/eventlog_testing.h"
#include "platform/syserror/syserror.h"
#include "tests/support/test_child.h"
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

TEST(DISABLED_ChildScenario, ReportFatalAbort) { report_message("cannot go on", REPORT_FATAL_ABORT, 0); }
TEST(DISABLED_ChildScenario, ReportFatal) { report_message("stop here", REPORT_FATAL, 0); }

TEST(ReportMessage, FatalSeveritiesEndWith999) {
  const int code = testsupport::observed_exit_code(999);
  testsupport::Run r = testsupport::run_child("ReportFatalAbort");
  EXPECT_EQ(code, static_cast<int>(r.exit_code));
  EXPECT_EQ("\ncannot go on", r.err);
  r = testsupport::run_child("ReportFatal");
  EXPECT_EQ(code, static_cast<int>(r.exit_code));
  EXPECT_EQ("\nstop here", r.err);
}

}  // namespace

namespace {

// The host name is fixed by the first call in a process, so each case runs in a child.
TEST(DISABLED_ChildScenario, ConfiguredHostName) {
  envtest::Installation inst({"QK_LOCAL_HOST"});
  testsupport::set_env("QK_LOCAL_HOST", "farhost");
  EXPECT_STREQ("farhost", local_host_name());
  testsupport::set_env("QK_LOCAL_HOST", "otherhost");
  EXPECT_STREQ("farhost", local_host_name());
}

TEST(LocalHostName, ConfiguredNameWinsAndStaysFixed) {
  const testsupport::Run r = testsupport::run_child("ConfiguredHostName");
  EXPECT_EQ(0u, r.exit_code) << r.err;
}

TEST(DISABLED_ChildScenario, ComputerHostName) {
  envtest::Installation inst({"QK_LOCAL_HOST"});
  const std::string name = local_host_name();
  EXPECT_NE("", name);
  EXPECT_EQ(std::string::npos, name.find('.')) << name;
}

TEST(LocalHostName, ComputerNameWithoutDomain) {
  const testsupport::Run r = testsupport::run_child("ComputerHostName");
  EXPECT_EQ(0u, r.exit_code) << r.err;
}

}  // namespace

namespace {

TEST(SystemErrorText, KnownAndUnknownCodes) {
  std::string known = system_error_text(2);
  EXPECT_NE("Unknown Error Code", known);
  EXPECT_FALSE(known.empty());
  EXPECT_STREQ("Unknown Error Code", system_error_text(0x7FFFFFF0UL));
}

TEST(UserName, OverrideCopiesAndBuffers) {
  envtest::Installation inst({"QK_USER"});
  set_user_name("operator");
  char dest[21] = {0};
  EXPECT_STREQ("operator", user_name(dest));
  EXPECT_STREQ("operator", dest);
  EXPECT_STREQ("operator", user_name_text());
  EXPECT_STREQ("operator", login_name());
  set_user_name(nullptr);  // no change
  EXPECT_STREQ("operator", user_name());
  // The override keeps 21 characters; a result holds 20.
  set_user_name("abcdefghijklmnopqrstuvwxyz");
  EXPECT_STREQ("abcdefghijklmnopqrst", user_name(dest));
  EXPECT_STREQ("abcdefghijklmnopqrst", dest);
  set_user_name("");
  const char* account = user_name_text();
  EXPECT_NE(std::string("abcdefghijklmnopqrst"), account);
}

TEST(ServerName, FromTheEnvironment) {
  envtest::Installation inst({"QK_SERVER_NAME"});
  EXPECT_EQ(nullptr, server_name());
  testsupport::set_env("QK_SERVER_NAME", "central");
  EXPECT_STREQ("central", server_name());
}

TEST(EventLogReport, TypeFollowsTheLevel) {
  struct Event {
    std::string source;
    platform::EventType type;
    std::string text;
  };
  std::vector<Event> events;
  platform::testing::set_event_sink(
      [&events](const std::string& source, platform::EventType type, const std::string& text) {
        events.push_back({source, type, text});
      });
  const int levels[] = {80, 90, 200, 250, 32798, 32838, 32768, 32778, 32788, 32803, 32808, 60};
  for (int level : levels) event_log_report(level, "disk full", "loader");
  platform::testing::set_event_sink(nullptr);
  using T = platform::EventType;
  const T expected[] = {T::information, T::information, T::information, T::information,
                        T::warning,     T::warning,     T::error,       T::error,
                        T::error,       T::error,       T::error,       T::error};
  ASSERT_EQ(12u, events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(levels[i]);
    EXPECT_EQ("ZQ_KVO", events[i].source);
    EXPECT_EQ("KVO[loader]: disk full", events[i].text);
    EXPECT_EQ(expected[i], events[i].type);
  }
}

TEST(QuoteWhereWords, WordsAsAShellSplitsThem) {
  envtest::Installation inst({"QKT_TABLE"});
  testsupport::set_env("QKT_TABLE", "parts");
  EXPECT_STREQ("select parts \"WHERE id = 'x' AND n > 2\" ",
               quote_where_words("select  parts 'WHERE id = '\"'x'\"' AND n > 2'"));
  EXPECT_STREQ("list parts parts $ x ", quote_where_words("list $QKT_TABLE ${QKT_TABLE} $ x$QKT_NONE"));
  EXPECT_STREQ("a\"b\\c$d $QKT_TABLE \"WHEREVER\" ",
               quote_where_words("\"a\\\"b\\\\c\\$d\" '$QKT_TABLE' WHEREVER"));
  EXPECT_STREQ("where ", quote_where_words("  where  ''  "));
  EXPECT_STREQ("", quote_where_words(""));
  std::string longer(1500, 'w');
  EXPECT_EQ(999u, strlen(quote_where_words(longer.c_str())));
}

TEST(OperatingSystemName, LowerCaseAndFixed) {
  std::string name = operating_system_name();
  EXPECT_FALSE(name.empty());
  for (char c : name) EXPECT_FALSE(isupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(operating_system_name(), operating_system_name());
}

TEST(Wrappers, AccessIgnoresOneTrailingSeparator) {
  testsupport::TempDir tmp;
  testsupport::write_file(tmp / "f", "x");
  EXPECT_EQ(0, qk_access((tmp.path() + "/").c_str(), 0));
  EXPECT_EQ(0, qk_access((tmp.path() + "\\").c_str(), 0));
  EXPECT_EQ(0, qk_access((tmp / "f").c_str(), 4));
  EXPECT_EQ(-1, qk_access((tmp / "missing").c_str(), 0));
}

TEST(Wrappers, SpawnWithoutWaiting) {
  testsupport::TempDir tmp;
  const std::string report = tmp / "report";
  testsupport::ScopedEnv env("FAKEJAVA_REPORT", report.c_str());
  const std::string command = testsupport::sibling_program("fakejava") + " hello world";
  ASSERT_EQ(0, spawn_no_wait(command.c_str()));
  // The child runs on its own; its report shows it started with the rest as its argument.
  std::string text;
  for (int i = 0; i < 200 && text.find("arg 1 [hello") == std::string::npos; ++i) {
    qk_sleep(50);
    if (testsupport::file_exists(report)) text = testsupport::read_file(report);
  }
  EXPECT_NE(std::string::npos, text.find("arg 1 [hello")) << text;
  EXPECT_EQ(-1, spawn_no_wait((tmp / "no_such_program").c_str()));
  EXPECT_EQ(-1, spawn_no_wait(""));
}

TEST(Wrappers, ByteOrderMark) {
  std::ostringstream out;
  write_utf8_bom(out);
  EXPECT_EQ("\xEF\xBB\xBF", out.str());
}

int caught_signal = 0;
void remember_signal(int sig) { caught_signal = sig; }

TEST(Signals, CatchDispatchesAndResetForgets) {
  caught_signal = 0;
  EXPECT_EQ(nullptr, signal_catch(SIGTERM, remember_signal));
  EXPECT_EQ(0, signal_raise(SIGTERM));
  EXPECT_EQ(SIGTERM, caught_signal);
  caught_signal = 0;
  EXPECT_EQ(remember_signal, signal_catch(SIGTERM, remember_signal));
  EXPECT_EQ(0, signal_raise_process(12345, SIGTERM));
  EXPECT_EQ(SIGTERM, caught_signal);
  // Ignored after a reset without the flag: raising it changes nothing.
  EXPECT_EQ(remember_signal, signal_reset(SIGTERM, 0));
  caught_signal = 0;
  EXPECT_EQ(0, signal_raise(SIGTERM));
  EXPECT_EQ(0, caught_signal);
  EXPECT_EQ(nullptr, signal_reset(SIGTERM, 1));
  EXPECT_EQ(nullptr, signal_catch(0, remember_signal));
  EXPECT_EQ(nullptr, signal_reset(-3, 1));
}

TEST(DISABLED_ChildScenario, SignalDefaultRestored) {
  signal_catch(SIGTERM, remember_signal);
  signal_reset(SIGTERM, 1);
  signal_raise(SIGTERM);
  std::fputs("still running\n", stderr);  // not reached: the default action ends the process
}

TEST(Signals, ResetWithFlagRestoresTheDefault) {
  const testsupport::Run r = testsupport::run_child("SignalDefaultRestored");
  EXPECT_NE(0u, r.exit_code);
  EXPECT_NE(testsupport::kNoSuchScenario, r.exit_code);
  EXPECT_EQ("", r.err);
}

}  // namespace
