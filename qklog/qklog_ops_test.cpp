// qklog as an operator meets it: help and version anywhere, notes on changes that change
// nothing, and the effective configuration of an installation. Each case runs qklog as a
// program in a scratch installation of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/version.h"
#include "tests/support/testsupport.h"


namespace {

class QklogOps : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_ / "root";
    local_ = dir_ / "local";
    testsupport::make_dirs(root_ + "/config");
    testsupport::make_dirs(local_);
    for (const char* name : {"QK_NAMESPACE", "QK_SITE", "QK_LOG", "QK_LOG_LEVEL", "QK_LOG_LEVEL_STD",
                             "QK_LOG_LEVEL_BSTRAP", "QK_LOGFILE_LIMIT", "QK_LOG_NOKEY", "QK_DEVO", "QK_TEST_PROGRAM_NAME"})
      set(name, nullptr);
    set("QK_ROOT", root_.c_str());
    set("QK_LOCAL", local_.c_str());
    static int counter = 0;
    key_ = 720000000 + static_cast<int>(testsupport::process_id() % 100000) * 100 + counter++ % 100;
    set("QK_KEY", std::to_string(key_).c_str());
  }

  void set(const std::string& name, const char* value) { env_.emplace_back(new testsupport::ScopedEnv(name, value)); }
  void no_installation() {
    for (const char* name : {"QK_ROOT", "QK_LOCAL", "QK_KEY"}) set(name, nullptr);
  }

  testsupport::Run program(const std::string& name, const std::vector<std::string>& args) {
    return testsupport::run_sibling(name, args);
  }
  testsupport::Run qklog(const std::vector<std::string>& args) { return program("qklog", args); }

  testsupport::TempDir dir_;
  std::string root_, local_;
  int key_ = 0;
  std::vector<std::unique_ptr<testsupport::ScopedEnv>> env_;
};

TEST_F(QklogOps, HelpAndVersionWorkWithoutAnInstallation) {
  no_installation();
  testsupport::Run help = qklog({"--help"});
  EXPECT_EQ(help.exit_code, 0u) << help.err;
  EXPECT_EQ(help.out.rfind("usage: qklog COMMAND", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
  EXPECT_EQ(help.err, "");
  for (const char* command : {"status", "filter", "offset", "tail", "config"}) {
    testsupport::Run one = qklog({command, "--help"});
    EXPECT_EQ(one.exit_code, 0u) << command << ": " << one.err;
    EXPECT_EQ(one.out.rfind(std::string("usage: qklog ") + command, 0), 0u) << one.out;
    EXPECT_EQ(one.err, "") << command;
  }
  testsupport::Run version = qklog({"--version"});
  EXPECT_EQ(version.exit_code, 0u) << version.err;
  EXPECT_EQ(version.out, std::string("qklog (QK) ") + QK_VERSION + "\n");
  EXPECT_EQ(version.err, "");

  // A command that needs the installation still says what is missing.
  testsupport::Run status = qklog({"status"});
  EXPECT_EQ(status.exit_code, 3u);
  EXPECT_EQ(status.err, "qklog: no installation: QK_ROOT is set neither in the environment nor in tallowin.ini\n");
  testsupport::Run extra = qklog({"--version", "x"});
  EXPECT_EQ(extra.exit_code, 2u);
  EXPECT_EQ(extra.err.rfind("qklog: --version takes nothing after it\n", 0), 0u) << extra.err;
}

TEST_F(QklogOps, AFilterThatChangesNothingIsKeptWithANote) {
  ASSERT_EQ(program("Brimvale", {"-V"}).exit_code, 9u);  // makes the block
  testsupport::Run error = qklog({"filter", "add", "--source", "x", "--level", "ERROR"});
  EXPECT_EQ(error.exit_code, 0u) << error.err;
  EXPECT_EQ(error.out.rfind("added entry 1: level 41", 0), 0u) << error.out;
  EXPECT_EQ(error.err,
            "qklog: note: records at ERROR and more important levels pass every threshold (ABS_MINIMUM, 50, at "
            "least) already; this filter lets nothing more through\n");
  testsupport::Run minimum = qklog({"filter", "add", "--process", "p", "--level", "minimum"});
  EXPECT_EQ(minimum.exit_code, 0u) << minimum.err;
  EXPECT_EQ(minimum.err,
            "qklog: note: records at minimum and more important levels pass the default threshold (MINIMUM, 60) "
            "already; this filter lets more through only in processes whose QK_LOG_LEVEL is lower\n");
  testsupport::Run warning = qklog({"filter", "add", "--pid", "7", "--level", "WARNING"});
  EXPECT_EQ(warning.exit_code, 0u);
  EXPECT_EQ(warning.err, "");
  const testsupport::Run list = qklog({"filter", "list"});
  EXPECT_NE(list.out.find("source      41  x"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("process     61  p"), std::string::npos) << list.out;
}

// The lines of config's text that hold the piece.
std::string line_with(const std::string& text, const std::string& piece) {
  const std::size_t at = text.find(piece);
  if (at == std::string::npos) return "";
  const std::size_t begin = text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
  return text.substr(begin, text.find('\n', at) - begin);
}

TEST_F(QklogOps, ConfigTellsWhereEachSettingComesFromAndTheBlocksState) {
  testsupport::write_file(local_ + "/QK.env", "QKT_COLOUR=local\nQKT_EMPTY=\nQK_KEY=1\n");
  testsupport::write_file(root_ + "/config/QK.env", "QKT_COLOUR=config\n@QKT_FORCED=config\n");
  testsupport::write_file(root_ + "/QK.env", "QKT_SHAPE=round\nQK_LOG=" + root_ + "/elsewhere\n");
  set("QKT_COLOUR", nullptr);
  set("QKT_SHAPE", nullptr);
  set("QKT_FORCED", "environment");
  // The files' paths as the settings load forms them: folder, separator, file.
  const std::string sep(1, platform::path_separator());
  testsupport::Run before = qklog({"config"});
  ASSERT_EQ(before.exit_code, 0u) << before.err;
  const std::string& out = before.out;
  EXPECT_EQ(line_with(out, "QK_ROOT "), "QK_ROOT        " + root_ + " (from environment)");
  EXPECT_EQ(line_with(out, "QK_SITE "), "QK_SITE        " + root_ + "/site (QK_SITE not set: QK_ROOT/site)");
  // Every file looked for, in order, found or not.
  const std::size_t local_at = out.find("  found      " + local_ + sep + "QK.env\n");
  const std::size_t config_at = out.find("  found      " + root_ + sep + "config/QK.env\n");
  const std::size_t root_at = out.find("  found      " + root_ + sep + "QK.env\n");
  ASSERT_NE(local_at, std::string::npos) << out;
  ASSERT_NE(config_at, std::string::npos) << out;
  ASSERT_NE(root_at, std::string::npos) << out;
  EXPECT_LT(local_at, config_at);
  EXPECT_LT(config_at, root_at);
  EXPECT_NE(out.find("  not found  "), std::string::npos) << "the system's QK.env:\n" << out;
  // Each assignment, with the file that set it or what won over it.
  EXPECT_EQ(line_with(out, "QKT_COLOUR=local"), "  QKT_COLOUR=local   " + local_ + sep + "QK.env line 1");
  EXPECT_EQ(line_with(out, "QKT_COLOUR=config"), "  QKT_COLOUR=config   " + root_ + sep + "config/QK.env line 1 -- not used: " +
                                                     local_ + sep + "QK.env set it first");
  EXPECT_EQ(line_with(out, "QK_KEY=1"),
            "  QK_KEY=1   " + local_ + sep + "QK.env line 3 -- not used: set in the environment, which wins");
  EXPECT_NE(line_with(out, "QKT_EMPTY=").find("an empty value sets nothing"), std::string::npos) << out;
  EXPECT_NE(line_with(out, "QKT_FORCED=config").find("forced"), std::string::npos) << out;
  EXPECT_EQ(line_with(out, "log directory"), "log directory  " + root_ +
                                                 "/elsewhere (from QK_LOG; the first process to log makes the block "
                                                 "with it)");
  EXPECT_NE(line_with(out, "block          ").find("no log block for the key " + std::to_string(key_)), std::string::npos)
      << out;
  EXPECT_FALSE(testsupport::file_exists(root_ + "/site")) << "looking creates nothing";

  // Once a process has made the block with another folder, both are named.
  {
    testsupport::ScopedEnv log_dir("QK_LOG", (root_ + "/first").c_str());
    ASSERT_EQ(program("Brimvale", {"-V"}).exit_code, 9u);
  }
  ASSERT_EQ(qklog({"filter", "add", "--pid", "3", "--level", "TRACE"}).exit_code, 0u);
  testsupport::Run after = qklog({"config"});
  ASSERT_EQ(after.exit_code, 0u) << after.err;
  EXPECT_EQ(line_with(after.out, "log directory"),
            "log directory  " + root_ + "/first (the block's, chosen when it was made)");
  EXPECT_NE(after.out.find("QK_LOG asks for " + root_ + "/elsewhere: it takes effect with a new block"),
            std::string::npos)
      << after.out;
  char backing[16];
  std::snprintf(backing, sizeof backing, "%08x", static_cast<unsigned>(key_ + 1));
  EXPECT_TRUE(testsupport::file_exists(root_ + "/site/shm/" + backing));
  EXPECT_NE(after.out.find("block          " + root_ + "/site/shm/" + backing +
                           ": exists\n  files        1 of 40 entries in use\n  filters      1 of 20 entries in use\n"),
            std::string::npos)
      << after.out;

  set("QK_KEY", nullptr);
  testsupport::write_file(local_ + sep + "QK.env", "");
  testsupport::Run nokey = qklog({"config"});
  EXPECT_EQ(nokey.exit_code, 0u);
  EXPECT_NE(nokey.out.find("QK_KEY is not set: the installation has no shared log block"), std::string::npos)
      << nokey.out;
}

TEST_F(QklogOps, ConfigRefusesBadInputAndNeedsAnInstallation) {
  testsupport::Run operand = qklog({"config", "all"});
  EXPECT_EQ(operand.exit_code, 2u);
  EXPECT_EQ(operand.err.rfind("qklog: config takes no operand\nusage: qklog config", 0), 0u) << operand.err;
  testsupport::Run option = qklog({"config", "--json"});
  EXPECT_EQ(option.exit_code, 2u);
  EXPECT_EQ(option.err.rfind("qklog: unknown option --json\n", 0), 0u) << option.err;
  set("QK_LOCAL", nullptr);
  testsupport::Run none = qklog({"config"});
  EXPECT_EQ(none.exit_code, 3u);
  EXPECT_EQ(none.err, "qklog: no installation: QK_LOCAL is set neither in the environment nor in tallowin.ini\n");
  EXPECT_EQ(none.out, "");
}

TEST(Version, TheMacrosAgree) {
  const std::string parts = std::to_string(QK_VERSION_MAJOR) + "." + std::to_string(QK_VERSION_MINOR) + "." +
                            std::to_string(QK_VERSION_PATCH);
  EXPECT_EQ(parts, QK_VERSION);
}

}  // namespace
