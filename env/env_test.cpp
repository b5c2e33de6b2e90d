// The settings lookup and the QK.env load.
#include "env/env.h"
#include "env/env_report.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "env/internal/qkenv_parser.h"
#include "tests/support/env_installation.h"
#include "platform/environment/environment.h"
#include "platform/files/files.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

namespace {

using envtest::Installation;
using testsupport::set_env;
using testsupport::write_file;

const int kFatal = testsupport::observed_exit_code(999);

std::string value_of(const char* name) {
  const char* v = env_lookup(name, 0);
  return v ? std::string(v) : std::string("<none>");
}

std::string sep() { return std::string(1, platform::path_separator()); }

// --- Paths that end the process, each in a child copy of this program --------------------

// The child takes over the parent's installation: QK_ROOT and QK_LOCAL come in its
// environment, the system directories in QKT_WINDOWS and QKT_SYSTEM; the settings are
// loaded afresh at the next lookup.
void use_parents_installation() {
  const char* windows = platform::get_env("QKT_WINDOWS");
  const char* system = platform::get_env("QKT_SYSTEM");
  platform::testing::set_windows_directory(windows ? windows : "");
  platform::testing::set_system_config_directory(system ? system : "");
  env_testing_reset();
}

testsupport::ChildOptions in_installation(const Installation& inst, const std::string& windows = std::string()) {
  return testsupport::ChildOptions()
      .set("QKT_WINDOWS", windows.empty() ? inst.windows : windows)
      .set("QKT_SYSTEM", inst.system);
}

TEST(DISABLED_ChildScenario, EnvLoadWithoutRoot) {
  use_parents_installation();
  set_env("QK_ROOT", nullptr);
  env_lookup("QKT_X", 0);
}

TEST(DISABLED_ChildScenario, EnvLoadWithoutLocal) {
  use_parents_installation();
  set_env("QK_LOCAL", nullptr);
  env_lookup("QKT_X", 0);
}

TEST(DISABLED_ChildScenario, EnvLoadWithoutEither) {
  use_parents_installation();
  set_env("QK_ROOT", nullptr);
  set_env("QK_LOCAL", nullptr);
  env_lookup("QKT_X", 0);
}

// Ends with exit code 999 and the message on standard error.
void expect_fatal(const testsupport::Run& r, const std::string& message) {
  EXPECT_EQ(kFatal, static_cast<int>(r.exit_code)) << r.err;
  EXPECT_EQ(message, r.err);
}

TEST(EnvLoad, PrecedenceFollowsTheSearchOrder) {
  Installation inst({"QKT_ENV", "QKT_LOCAL", "QKT_CONFIG", "QKT_ROOT", "QKT_SITE", "QKT_SYS",
                     "QKT_FORCED"});
  set_env("QKT_ENV", "environment");
  set_env("QKT_FORCED", "environment");
  write_file(inst.local + "/QK.env", "QKT_ENV=local\nQKT_LOCAL=local\n");
  write_file(inst.root + "/config/QK.env",
             "QKT_LOCAL=config\nQKT_CONFIG=config\nQK_SITE=" + inst.site + "\n");
  write_file(inst.root + "/QK.env", "QKT_CONFIG=root\nQKT_ROOT=root\n");
  write_file(inst.site + "/QK.env", "QKT_ROOT=site\nQKT_SITE=site\n@QKT_FORCED=site\n");
  write_file(inst.system + "/QK.env", "QKT_SITE=system\nQKT_SYS=system\n");

  testing::internal::CaptureStderr();
  EXPECT_EQ("environment", value_of("QKT_ENV"));
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
  EXPECT_EQ("local", value_of("QKT_LOCAL"));
  EXPECT_EQ("config", value_of("QKT_CONFIG"));
  EXPECT_EQ("root", value_of("QKT_ROOT"));
  EXPECT_EQ("site", value_of("QKT_SITE"));  // QK_SITE came from a file read before
  EXPECT_EQ("system", value_of("QKT_SYS"));
  EXPECT_EQ("site", value_of("QKT_FORCED"));
}

// The load's report says what each file and assignment did, and agrees with the values.
TEST(EnvLoad, TheReportTellsWhereEachSettingCameFrom) {
  Installation inst({"QKT_ENV", "QKT_LOCAL", "QKT_FORCED", "QKT_NONE"});
  set_env("QKT_ENV", "environment");
  write_file(inst.local + "/QK.env", "QKT_ENV=local\nQKT_LOCAL=local\nQKT_NONE=\n");
  write_file(inst.root + "/QK.env", "QKT_LOCAL=root\n@QKT_FORCED=root\n");
  const EnvLoadReport& report = env_load_report();
  EXPECT_EQ("environment", report.root_source);
  EXPECT_EQ("environment", report.local_source);
  const std::vector<std::pair<std::string, bool>> expected_files = {
      {inst.local + sep() + "QK.env", true},
      {inst.root + sep() + "config/QK.env", false},
      {inst.root + sep() + "QK.env", true},
      {inst.system + sep() + "QK.env", false}};  // no QK_SITE: no site file is looked for
  ASSERT_EQ(expected_files.size(), report.files.size());
  for (std::size_t i = 0; i < expected_files.size(); ++i) {
    EXPECT_EQ(expected_files[i].first, report.files[i].path);
    EXPECT_EQ(expected_files[i].second, report.files[i].found) << report.files[i].path;
  }
  ASSERT_EQ(5u, report.assignments.size());
  const EnvAssignmentRead& env_wins = report.assignments[0];
  EXPECT_EQ("QKT_ENV", env_wins.name);
  EXPECT_EQ("local", env_wins.value);
  EXPECT_EQ(1, env_wins.line);
  EXPECT_EQ(EnvAssignmentOutcome::kept_environment, env_wins.outcome);
  EXPECT_EQ(EnvAssignmentOutcome::set, report.assignments[1].outcome);
  EXPECT_EQ(EnvAssignmentOutcome::empty_value, report.assignments[2].outcome);
  const EnvAssignmentRead& earlier = report.assignments[3];
  EXPECT_EQ(EnvAssignmentOutcome::kept_earlier_file, earlier.outcome);
  EXPECT_EQ(inst.local + sep() + "QK.env", earlier.earlier_path);
  EXPECT_EQ(inst.root + sep() + "QK.env", earlier.path);
  EXPECT_EQ(EnvAssignmentOutcome::forced, report.assignments[4].outcome);
  EXPECT_EQ("environment", value_of("QKT_ENV"));
  EXPECT_EQ("local", value_of("QKT_LOCAL"));
  EXPECT_EQ("root", value_of("QKT_FORCED"));
  EXPECT_EQ(5u, env_load_report().assignments.size()) << "the load runs once";
}

TEST(EnvLoad, OnlyTheFirstLookupLoads) {
  Installation inst({"QKT_A"});
  write_file(inst.root + "/QK.env", "QKT_A=1\n");
  EXPECT_EQ("1", value_of("QKT_A"));
  write_file(inst.root + "/QK.env", "@QKT_A=2\n");
  EXPECT_EQ("1", value_of("QKT_A"));
}

struct LineCase {
  const char* file;
  const char* name;
  const char* expected;  // "<none>" when the variable stays unset
};

TEST(EnvLoad, LinesAndValues) {
  const LineCase cases[] = {
      {"  QKT_X = a b  \n", "QKT_X", "a b  "},
      {"QKT_X=\n", "QKT_X", "<none>"},
      {"QKT_X\nQKT_Y=1\n", "QKT_X", "1"},
      {"QKT_X\nQKT_Y=1\n", "QKT_Y", "<none>"},
      {"-QKT_X=1\n", "QKT_X", "1"},
      {"QKT_X=$QKT_HOME/x\n", "QKT_X", "/h/x"},
      {"QKT_X=$$x\n", "QKT_X", "$x"},
      {"QKT_X=$QKT_UNSET/x\n", "QKT_X", "/x"},
      {"QKT_X=$/x\n", "QKT_X", "/x"},
      {"QKT_X=$QKT_HOME$QKT_HOME\n", "QKT_X", "/h/h"},
      {"QKT_A=1\nQKT_X=$QKT_A\n", "QKT_X", "1"},
      {"QKT_X=a  \\\nb\n", "QKT_X", "ab"},
      {"QKT_X=a\\\n\nb\n", "QKT_X", "ab"},
      {"\xEF\xBB\xBFQKT_X=bom\n", "QKT_X", "bom"},
      {"QKT_X=1\r\nQKT_Y=2\r\n", "QKT_X", "1"},
      {"QKT_X=1\r\nQKT_Y=2\r\n", "QKT_Y", "2"},
      {"QKT_X=last", "QKT_X", "last"},
      {"QKT_X=$QKT_HOME", "QKT_X", "/h"},
      {"# QKT_X=1\n! QKT_Y=2\nQKT_A=3 # kept\n", "QKT_X", "<none>"},
      {"# QKT_X=1\n! QKT_Y=2\nQKT_A=3 # kept\n", "QKT_Y", "<none>"},
      {"# QKT_X=1\n! QKT_Y=2\nQKT_A=3 # kept\n", "QKT_A", "3 # kept"},
      {".QKT_X=1\nQKT_Y=2\n", "QKT_X", "<none>"},
      {".QKT_X=1\nQKT_Y=2\n", "QKT_Y", "2"},
      {"QKT_X=\\$QKT_HOME \\\\ \\t\\q\n", "QKT_X", "$QKT_HOME \\ \tq"},
      {"QKT_X=a\\nQKT_Y=b\n", "QKT_X", "a"},
      {"QKT_X=a\\nQKT_Y=b\n", "QKT_Y", "b"},
      {"QKT_X=\\bx\\v\n", "QKT_X", "\bx\v"},
      {"QKT_X   \t  =   spaced\n", "QKT_X", "spaced"},
      {"@=1\nQKT_X=after\n", "QKT_X", "after"},
      {"QKT_X=in\xEF\xBB\xBFside\n", "QKT_X", "inside"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.file);
    Installation inst({"QKT_X", "QKT_Y", "QKT_A", "QKT_HOME"});
    set_env("QKT_HOME", "/h");
    write_file(inst.root + "/QK.env", c.file);
    EXPECT_EQ(c.expected, value_of(c.name));
  }
}

TEST(EnvLoad, EmptyValueLeavesAnExistingVariable) {
  Installation inst({"QKT_X"});
  set_env("QKT_X", "kept");
  write_file(inst.root + "/QK.env", "QKT_X=\n@QKT_X=\n");
  EXPECT_EQ("kept", value_of("QKT_X"));
}

TEST(EnvLoad, LongLinesAreReadWhole) {
  Installation inst({"QKT_X", "QKT_Y"});
  const std::string value(600, 'v');
  write_file(inst.root + "/QK.env", "QKT_X=" + value + "\nQKT_Y=" + value + "\\\n" + value + "\n");
  EXPECT_EQ(value, value_of("QKT_X"));
  EXPECT_EQ(value + value, value_of("QKT_Y"));
}

TEST(EnvLoad, ValuesAreBoundedAtTheLongestAnEnvironmentHolds) {
  Installation inst({"QKT_X", "QKT_Y", "QKT_Z", "QKT_LF", "QKT_B"});
  const std::string most(32766, 'v');
  set_env("QKT_LF", "a\nQKT_B=from the expansion");
  // The value just within the bound is kept; one more byte and the line is refused,
  // reported with its line, and the file goes on, also after a reference that expands
  // past the bound and holds a line feed of its own.
  write_file(inst.root + "/QK.env", "QKT_X=" + most + "\n\nQKT_Y=" + most + "w\n" +
                                        "QKT_Z=$QKT_X$QKT_LF\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ(most, value_of("QKT_X"));
  const std::string path = inst.root + sep() + "QK.env";
  EXPECT_EQ("\nValue of QKT_Y in " + path + " line 3 is longer than 32766 characters; not set\n"
            "\nValue of QKT_Z in " + path + " line 4 is longer than 32766 characters; not set\n",
            testing::internal::GetCapturedStderr());
  EXPECT_EQ("<none>", value_of("QKT_Y"));
  EXPECT_EQ("<none>", value_of("QKT_Z"));
  EXPECT_EQ("from the expansion", value_of("QKT_B"));
}

TEST(EnvLoad, NamesAndLinesAreBoundedAndTheFileGoesOn) {
  const std::string longest = "QKT_" + std::string(qkenv::kNameMax - 4, 'L');
  Installation inst({"QKT_X", "QKT_Y", "QKT_Z", longest});
  // A name of 200,000 bytes could be set, and then no program could be started (the
  // system refuses an environment string that long); a line whose value starts after more
  // blanks than a line holds is cut, and so not set either. 255 characters serve.
  const std::string long_name = "QKT_" + std::string(200000, 'N');
  write_file(inst.root + "/QK.env", long_name + "=1\nQKT_X=after the name\nQKT_Y=" +
                                        std::string(qkenv::kLineMax, ' ') + "v\nQKT_Z=after the line\n" +
                                        longest + "=longest\n");
  testing::internal::CaptureStderr();
  EXPECT_EQ("after the name", value_of("QKT_X"));
  const std::string path = inst.root + sep() + "QK.env";
  EXPECT_EQ("\nName " + long_name.substr(0, qkenv::kNameMax) + "... in " + path +
                " line 1 is longer than 255 characters; not set\n"
                "\nLine of QKT_Y in " + path + " line 3 is longer than " + std::to_string(qkenv::kLineMax) +
                " characters; not set\n",
            testing::internal::GetCapturedStderr());
  EXPECT_EQ(nullptr, platform::get_env(long_name.c_str()));
  EXPECT_EQ(nullptr, platform::get_env(long_name.substr(0, qkenv::kNameMax).c_str()));
  EXPECT_EQ("<none>", value_of("QKT_Y"));
  EXPECT_EQ("after the line", value_of("QKT_Z"));
  EXPECT_EQ("longest", value_of(longest.c_str()));
}

// The peak of the child's resident memory while it loads its settings, in kilobytes
// (Linux's /proc; -1 elsewhere).
long peak_kilobytes() {
  FILE* status = fopen("/proc/self/status", "r");
  if (!status) return -1;
  char line[256];
  long peak = -1;
  while (fgets(line, sizeof line, status))
    if (strncmp(line, "VmHWM:", 6) == 0) peak = strtol(line + 6, nullptr, 10);
  fclose(status);
  return peak;
}

TEST(DISABLED_ChildScenario, EnvLoadPeak) {
  use_parents_installation();
  const long before = peak_kilobytes();
  const char* value = env_lookup("QKT_X", 0);
  printf("%s %ld\n", value ? value : "<none>", peak_kilobytes() - before);
}

TEST(EnvLoad, AnEndlessCommentLineIsSkippedWithoutBeingHeld) {
  Installation inst({"QKT_X"});
  if (peak_kilobytes() < 0) GTEST_SKIP() << "no measure of a process's peak memory here";
  const size_t line = 48u << 20;
  write_file(inst.root + "/QK.env", "# " + std::string(line, 'c') + "\nQKT_X=after\n");
  testsupport::Run r =
      testsupport::run_child("EnvLoadPeak", in_installation(inst));
  ASSERT_EQ(0u, r.exit_code) << r.err;
  long grown = -1;
  char value[32] = "";
  ASSERT_EQ(2, sscanf(r.out.c_str(), "%31s %ld", value, &grown)) << r.out;
  EXPECT_STREQ("after", value);
  EXPECT_LT(grown, 8L << 10) << "kilobytes held while a line of " << line << " bytes was read";
}

TEST(QkEnvParser, AsksForTheLocaleOnlyForBytesFrom0x80) {
  // Every locale classifies the bytes below 0x80 alike; the locale is loaded only when a
  // byte above must be classified (inside a comment or a value, after its first byte,
  // nothing is).
  struct Case {
    std::string file;
    bool asks;
  };
  for (const Case& c : {Case{"A = 1\n# comment \xE9\nB=t\xE9t\xE9\n", false},
                        Case{"\xA0" "A=1\n", true}, Case{"\xEF\xBB\xBF" "A=1\n", false},
                        Case{"B=\xE9\n", true}}) {
    size_t pos = 0;
    bool asked = false;
    qkenv::Parser parser(
        [&] { return pos < c.file.size() ? static_cast<unsigned char>(c.file[pos++]) : -1; },
        [](const std::string&) -> const char* { return nullptr; }, [&] { asked = true; });
    qkenv::Assignment a;
    while (parser.next(a)) {
    }
    EXPECT_EQ(c.asks, asked) << c.file;
  }
}

TEST(EnvLoad, NamespacePrefixesComeFirst) {
  Installation inst({"P___QKT_X", "P:QKT_X", "QKT_X", "P___QKT_Y", "P:QKT_Y", "QKT_Y"});
  set_env("QKT_X", "plain");
  set_env("P___QKT_X", "underscores");
  set_env("P:QKT_X", "colon");
  set_env("QKT_Y", "plain");
  set_env("P:QKT_Y", "colon");
  write_file(inst.root + "/QK.env", "QK_NAMESPACE=P\n");  // a file may set it
  EXPECT_EQ("underscores", value_of("QKT_X"));
  EXPECT_EQ("colon", value_of("QKT_Y"));
}

TEST(EnvLoad, LegacyFileSuppliesTheLocalFolder) {
  Installation inst({"QKT_L", "QKT_R"});
  set_env("QK_LOCAL", nullptr);
  write_file(inst.windows + "/tallowin.ini",
             "[Other]\nQK_LOCAL=wrong\n[tallowin]\r\n; QK_LOCAL=comment\r\n  qk_local =  \"" +
                 inst.local + "\"  \r\nQK_LOCAL=second\n");
  write_file(inst.local + "/QK.env", "QKT_L=local\n");
  write_file(inst.root + "/QK.env", "QKT_R=root\n");
  EXPECT_EQ("local", value_of("QKT_L"));
  EXPECT_EQ("root", value_of("QKT_R"));
  EXPECT_EQ(inst.local, value_of("QK_LOCAL"));
}

TEST(EnvLoad, NoFilesWithDevoSetSaysSo) {
  Installation inst;
  set_env("QK_DEVO", "1");
  testing::internal::CaptureStderr();
  env_lookup("QKT_NOTHING", 0);
  EXPECT_EQ("\nNo QK config files found\n", testing::internal::GetCapturedStderr());
}

// A backslash escapes the next character, so a Windows path with single backslashes loses
// them (as stored files expect); with QK_DEVO set each such value is named. The escapes
// \b \n \t \v, a doubled backslash and escapes outside values are not.
TEST(EnvLoad, DevoNamesValuesWhereABackslashTookALetter) {
  Installation inst({"QKT_JRE", "QKT_FINE", "QKT_TWO", "QKT_SLASH", "QKT_TAB", "QKT_NAME"});
  const std::string file = "QKT_JRE=C:\\Program Files\\Java\n"
                           "# C:\\Comment\n"
                           "QKT_FINE=C:/Program Files/Java\n"
                           "QKT_TWO = \\\\srv\\\\share\\\\x\n"
                           "QKT_SLASH=a\\$b\\ c\n"
                           "QKT_TAB=\\t\\b\\vz\n"
                           "QKT\\_NAME=\\Users\n";
  write_file(inst.root + "/QK.env", file);
  const std::string path = inst.root + sep() + "QK.env";
  const std::string advice = ": a backslash before a letter gives the letter alone; write paths with / or \\\\\n";
  testing::internal::CaptureStderr();
  EXPECT_EQ("C:Program FilesJava", value_of("QKT_JRE"));
  EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "only with QK_DEVO";
  EXPECT_EQ("\\srv\\share\\x", value_of("QKT_TWO"));

  env_testing_reset();
  for (const char* name : {"QKT_JRE", "QKT_FINE", "QKT_TWO", "QKT_SLASH", "QKT_TAB", "QKT_NAME"}) set_env(name, nullptr);
  set_env("QK_DEVO", "1");
  set_env("QKT_NAME", "set before");  // named also when the environment wins
  testing::internal::CaptureStderr();
  EXPECT_EQ("C:Program FilesJava", value_of("QKT_JRE"));
  EXPECT_EQ("\nValue of QKT_JRE in " + path + " line 1" + advice + "\nValue of QKT_NAME in " + path +
                " line 7" + advice,
            testing::internal::GetCapturedStderr());
  EXPECT_EQ("set before", value_of("QKT_NAME"));
}

// The line that follows the legacy file's report: what is missing and where it is given.
std::string advice(const Installation& inst, const std::string& names, bool both) {
  const std::string it = both ? "them" : "it";
  return names + (both ? " are" : " is") + " set nowhere: set " + it + " in the environment or in section [Tallowin] of " +
         inst.windows + sep() + "tallowin.ini; a QK.env file cannot give " + it +
         ", as the files are looked for in QK_LOCAL, QK_ROOT/config, QK_ROOT, QK_SITE and " + inst.system + "\n";
}

TEST(EnvLoad, AMissingInstallationNamesWhatIsMissingAfterTheLegacyFilesLine) {
  Installation inst;
  const std::string not_found = "\n" + inst.windows + sep() + "tallowin.ini -- not found\n";
  expect_fatal(testsupport::run_child("EnvLoadWithoutRoot", in_installation(inst)),
               not_found + advice(inst, "QK_ROOT", false));
  expect_fatal(testsupport::run_child("EnvLoadWithoutLocal", in_installation(inst)),
               not_found + advice(inst, "QK_LOCAL", false));
  expect_fatal(testsupport::run_child("EnvLoadWithoutEither", in_installation(inst)),
               not_found + advice(inst, "QK_ROOT and QK_LOCAL", true));

  // The legacy file gives one of them: only the other is named.
  write_file(inst.windows + "/tallowin.ini", "[Tallowin]\nQK_LOCAL=" + inst.local + "\n");
  expect_fatal(testsupport::run_child("EnvLoadWithoutEither", in_installation(inst)),
               "\nMissing value for QK_ROOT in tallowin.ini\n" + advice(inst, "QK_ROOT", false));
  write_file(inst.windows + "/tallowin.ini", "[Tallowin]\nQK_ROOT=" + inst.root + "\n");
  expect_fatal(testsupport::run_child("EnvLoadWithoutEither", in_installation(inst)),
               "\nMissing value for QK_LOCAL in tallowin.ini\n" + advice(inst, "QK_LOCAL", false));
}

TEST(EnvLoad, LegacyValueMissingOrTooLong) {
  Installation inst;
  write_file(inst.windows + "/tallowin.ini", "[Tallowin]\nQK_ROOT=\n");
  expect_fatal(testsupport::run_child("EnvLoadWithoutRoot", in_installation(inst)),
               "\nMissing value for QK_ROOT in tallowin.ini\n" + advice(inst, "QK_ROOT", false));
  // 253 - 7 bytes of room: a value of 245 characters or more is cut.
  write_file(inst.windows + "/tallowin.ini", "[Tallowin]\nQK_ROOT=" + std::string(245, 'r') + "\n");
  expect_fatal(testsupport::run_child("EnvLoadWithoutRoot", in_installation(inst)),
               "\nOverlength value for QK_ROOT in tallowin.ini\n" + advice(inst, "QK_ROOT", false));
}

TEST(EnvLoad, WindowsDirectoryUnavailable) {
  Installation inst;
  // Longer than the 128 bytes the report makes room for.
  expect_fatal(
      testsupport::run_child("EnvLoadWithoutRoot", in_installation(inst, inst.windows + "/" + std::string(130, 'w'))),
      "\nCould not get Windows dir\nQK_ROOT is set nowhere: set it in the environment or in section [Tallowin] of "
      "tallowin.ini in the Windows directory; a QK.env file cannot give it, as the files are looked for in QK_LOCAL, "
      "QK_ROOT/config, QK_ROOT, QK_SITE and " +
          inst.system + "\n");
}

TEST(EnvLoad, LegacyValueJustShortEnoughIsTaken) {
  Installation inst;
  set_env("QK_ROOT", nullptr);
  const std::string root = inst.root + std::string(244 - inst.root.size(), '/');
  write_file(inst.windows + "/tallowin.ini", "[Tallowin]\nQK_ROOT=" + root + "\n");
  EXPECT_EQ(root, value_of("QK_ROOT"));
}

TEST(DISABLED_ChildScenario, EnvLookupComplains) { env_lookup("QKT_MISSING", 1); }
TEST(DISABLED_ChildScenario, EnvLookupNocaseComplains) { env_lookup_nocase("QKT_MISSING", 1); }
TEST(DISABLED_ChildScenario, EnvNumberComplains) { env_number("QKT_MISSING"); }

TEST(EnvLookup, ComplaintsAreFatal) {
  Installation inst({"QKT_MISSING", "qkt_mixed"});
  const testsupport::ChildOptions missing = testsupport::ChildOptions().unset("QKT_MISSING").unset("qkt_mixed");
  expect_fatal(testsupport::run_child("EnvLookupComplains", missing),
               "\nVariable QKT_MISSING wasn't in the environment.");
  expect_fatal(testsupport::run_child("EnvLookupNocaseComplains", missing),
               "\nVariable QKT_MISSING wasn't in the environment.\nTried using case insensitive search.");
  expect_fatal(testsupport::run_child("EnvNumberComplains", missing),
               "\nVariable QKT_MISSING wasn't in the environment.");
  EXPECT_EQ(nullptr, env_lookup("QKT_MISSING", 2));
}

TEST(EnvLookup, CaseInsensitiveSearch) {
  Installation inst({"qkt_Mixed", "QKT_mixed", "QKT_MIXED"});
  set_env("qkt_Mixed", "found");
  const char* v = env_lookup_nocase("QKT_MIXED", 1);
  ASSERT_NE(nullptr, v);
  EXPECT_STREQ("found", v);
  EXPECT_EQ(nullptr, env_lookup_nocase("QKT_MIXED_NOT", 0));
  set_env("QKT_mixed", "later");  // the last match in the environment's order wins
  EXPECT_STREQ("later", env_lookup_nocase("QKT_MIXED", 0));
}

TEST(EnvPut, SetsAndRemoves) {
  Installation inst({"QKT_P"});
  EXPECT_EQ(0, env_put("QKT_P=1", 1));
  EXPECT_EQ("1", value_of("QKT_P"));
  EXPECT_EQ(0, env_put("QKT_P=", 1));
  EXPECT_EQ("<none>", value_of("QKT_P"));
  EXPECT_EQ(0, env_put("QKT_P=", 1));  // removing what is not there
  EXPECT_NE(0, env_put("=bad", 0));
}

TEST(DISABLED_ChildScenario, EnvPutRefused) { env_put("=bad", 1); }
TEST(DISABLED_ChildScenario, EnvPutLongRefused) { env_put(("=" + std::string(300, 'x')).c_str(), 1); }
TEST(DISABLED_ChildScenario, EnvPutOrExitRefused) { env_put_or_exit("=bad", 0); }

TEST(EnvPut, FailuresAreFatal) {
  const std::string refused = "\nEnvironment is full or bad enviroment string.\nUnable to add variable (";
  expect_fatal(testsupport::run_child("EnvPutRefused"), refused + "=bad)");
  // The message stops at 240 characters of the assignment and says so.
  expect_fatal(testsupport::run_child("EnvPutLongRefused"), refused + "=" + std::string(239, 'x') + "...)");
  expect_fatal(testsupport::run_child("EnvPutOrExitRefused"), "\nputenv error=-1, string==bad\n");
}

TEST(EnvKey, FromNumbersAndCharacters) {
  Installation inst({"QK_KEY"});
  EXPECT_EQ(-1, env_key(5, 0));
  set_env("QK_KEY", "ABCD");
  EXPECT_EQ(0x41424344 + 5, env_key(5, 0));
  set_env("QK_KEY", "AB");
  EXPECT_EQ(0x41420000, env_key(0, 0));
  set_env("QK_KEY", "12");
  EXPECT_EQ(12 + 7, env_key(7, 0));
  set_env("QK_KEY", "0x1c");
  EXPECT_EQ(0x1c, env_key(0, 0));
  set_env("QK_KEY", "010");
  EXPECT_EQ(8, env_key(0, 0));
  set_env("QK_KEY", "0x123456789");  // read up to its tenth character
  EXPECT_EQ(0x12345678, env_key(0, 0));
  set_env("QK_KEY", "0xfffffffe");
  EXPECT_EQ(-2, env_key(0, 0));
  // A byte from 0x80 up is widened with its sign: it sets every bit above its own byte.
  set_env("QK_KEY", "A\xC1" "BC");
  EXPECT_EQ(static_cast<int>(0xFFC14243u), env_key(0, 0));
}

TEST(EnvKey, NumbersBeyond32BitsAreNoKey) {
  unsigned key = 0;
  EXPECT_TRUE(env_key_text("4294967295", &key));
  EXPECT_EQ(0xFFFFFFFFu, key);
  EXPECT_FALSE(env_key_text("4294967296", &key));  // would be key 0 once cut to 32 bits
  EXPECT_FALSE(env_key_text("99999999999999999999", &key));
  EXPECT_TRUE(env_key_text("0x1000000001", &key));  // read up to its tenth character
  EXPECT_EQ(0x10000000u, key);
}

TEST(DISABLED_ChildScenario, EnvKeyComplains) { env_key(0, 1); }

TEST(EnvKey, ComplaintWhenMissing) {
  expect_fatal(testsupport::run_child("EnvKeyComplains", testsupport::ChildOptions().unset("QK_KEY")),
               "\nVariable QK_KEY wasn't in the environment.");
}

TEST(EnvNumber, PrefixesAndNonNumbers) {
  Installation inst({"QKT_N"});
  set_env("QKT_N", "42");
  EXPECT_EQ(42, env_number("QKT_N"));
  set_env("QKT_N", "0x10");
  EXPECT_EQ(16, env_number("QKT_N"));
  set_env("QKT_N", "017");
  EXPECT_EQ(15, env_number("QKT_N"));
  set_env("QKT_N", "x1");
  EXPECT_EQ(-1, env_number("QKT_N"));
  set_env("QKT_N", " 1");
  EXPECT_EQ(-1, env_number("QKT_N"));
}

TEST(EnvPath, RelativeValuesGoUnderTheRoot) {
  Installation inst({"QKT_DIR"});
  set_env("QKT_DIR", "data");
  EXPECT_EQ(inst.root + sep() + "data" + sep() + "x.txt", env_path("QKT_DIR", "x.txt"));
  EXPECT_EQ(inst.root + sep() + "data" + sep(), env_path("QKT_DIR", nullptr));
  const std::string absolute = inst.site;  // an absolute path on this build
  set_env("QKT_DIR", absolute.c_str());
  if (platform::is_absolute_path(absolute)) {
    EXPECT_EQ(absolute + sep() + "y", env_path("QKT_DIR", "y"));
  }
}

// The current folder changes for the rest of the process: a child of its own.
TEST(DISABLED_ChildScenario, LoadProgramDirConfig) {
  Installation inst;
  env_lookup("QKT_X", 0);
  load_program_dir_config();
  // A file made in the current folder is found in the program's folder.
  const std::string probe = "qkt_probe_" + std::to_string(testsupport::process_id());
  write_file(probe, "x");
  EXPECT_TRUE(testsupport::file_exists(testsupport::program_dir() + "/" + probe));
  remove(probe.c_str());
}

TEST(LoadProgramDirConfig, MakesTheProgramsFolderCurrent) {
  const testsupport::Run r = testsupport::run_child("LoadProgramDirConfig");
  EXPECT_EQ(0u, r.exit_code) << r.err;
  EXPECT_EQ("", r.err);
}

}  // namespace
