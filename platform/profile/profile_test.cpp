// The profile concept's promises, the same on every build: GetPrivateProfileStringA's
// rules for reading "[section]" and "key=value" files, and the system directories.
#include "platform/profile/profile.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/testing/profile_testing.h"
#include "tests/support/testsupport.h"

namespace {

class Profile : public ::testing::Test {
 protected:
  void SetUp() override { path_ = dir_ / "settings.ini"; }
  void TearDown() override { platform::testing::set_windows_directory(""); }

  void write(const std::string& text) { testsupport::write_file(path_, text); }

  // The value, or the default "<none>", read into a buffer of the size.
  std::string read(const char* section, const char* key, unsigned long size = 256,
                   const char* default_value = "<none>") {
    std::string buf(size, '#');
    const unsigned long n = platform::profile_string(section, key, default_value, &buf[0], size, path_.c_str());
    EXPECT_EQ(std::string::traits_type::length(buf.c_str()), n) << "the count is the text's length";
    return buf.c_str();
  }

  testsupport::TempDir dir_;
  std::string path_;
};

TEST_F(Profile, NamesIgnoreCaseAndValuesAreTrimmed) {
  write("[Tallowin]\nQK_ROOT=/srv/root\n  Spaced Key  =   padded value  \t\n");
  EXPECT_EQ("/srv/root", read("Tallowin", "QK_ROOT"));
  EXPECT_EQ("/srv/root", read("TALLOWIN", "qk_root"));
  EXPECT_EQ("padded value", read("tallowin", "spaced key"));
}

TEST_F(Profile, OneEnclosingPairOfQuotesIsRemoved) {
  write("[s]\ndouble=\"  kept blanks  \"\nsingle='x'\nhalf=\"open\nmixed=\"a'\ninner=a \"b\" c\n");
  EXPECT_EQ("  kept blanks  ", read("s", "double"));
  EXPECT_EQ("x", read("s", "single"));
  EXPECT_EQ("\"open", read("s", "half"));
  EXPECT_EQ("\"a'", read("s", "mixed"));
  EXPECT_EQ("a \"b\" c", read("s", "inner"));
}

TEST_F(Profile, KeysBelongToTheirOwnSection) {
  write("key=before any section\n[first]\nkey=one\n; key=a comment\n[second]\nkey=two\nonly=here\n");
  EXPECT_EQ("one", read("first", "key"));
  EXPECT_EQ("two", read("second", "key"));
  EXPECT_EQ("<none>", read("first", "only"));
  EXPECT_EQ("<none>", read("third", "key"));
}

TEST_F(Profile, WindowsLineEndsAreRead) {
  write("[s]\r\nkey=value\r\nnext=2\r\n");
  EXPECT_EQ("value", read("s", "key"));
  EXPECT_EQ("2", read("s", "next"));
}

TEST_F(Profile, AnEmptyValueIsAValueAndNotTheDefault) {
  write("[s]\nempty=\nblank=   \n");
  EXPECT_EQ("", read("s", "empty"));
  EXPECT_EQ("", read("s", "blank"));
}

TEST_F(Profile, MissingFileOrKeyGivesTheDefaultWithoutTrailingBlanks) {
  EXPECT_EQ("<none>", read("s", "key"));  // no file yet
  write("[s]\nother=1\n");
  EXPECT_EQ("fallback", read("s", "key", 256, "fallback   "));
  EXPECT_EQ("", read("s", "key", 256, nullptr));
}

TEST_F(Profile, ValueIsCutToTheBufferAndTheCountSaysSo) {
  write("[s]\nkey=0123456789\n");
  EXPECT_EQ("0123", read("s", "key", 5));
  EXPECT_EQ("0123456789", read("s", "key", 11));
  EXPECT_EQ("", read("s", "key", 1));
}

TEST_F(Profile, AFileNamedWithoutFolderIsInTheWindowsDirectory) {
  write("[s]\nkey=found\n");
  platform::testing::set_windows_directory(dir_.path());
  char buf[32];
  EXPECT_EQ(5u, platform::profile_string("s", "key", "", buf, sizeof buf, "settings.ini"));
  EXPECT_STREQ("found", buf);
}

TEST(SystemDirectories, WindowsDirectoryIsAbsoluteAndMustFit) {
  std::string dir;
  ASSERT_TRUE(platform::windows_directory(dir, 260));
  ASSERT_FALSE(dir.empty());
  const bool absolute = dir[0] == '/' || (dir.size() > 2 && dir[1] == ':' && (dir[2] == '\\' || dir[2] == '/'));
  EXPECT_TRUE(absolute) << dir;
  // Room for the text and its terminating zero, or nothing.
  EXPECT_FALSE(platform::windows_directory(dir, static_cast<unsigned>(dir.size())));
  EXPECT_EQ("", dir);

  platform::testing::set_windows_directory("/some/where");
  EXPECT_TRUE(platform::windows_directory(dir, 12));
  EXPECT_EQ("/some/where", dir);
  EXPECT_FALSE(platform::windows_directory(dir, 11));
  platform::testing::set_windows_directory("");
}

TEST(SystemDirectories, LastConfigurationDirectory) {
  const std::string dir = platform::system_config_directory();
  EXPECT_TRUE(dir == "/etc" || dir == "C:/") << dir;
  platform::testing::set_system_config_directory("/elsewhere");
  EXPECT_EQ("/elsewhere", platform::system_config_directory());
  platform::testing::set_system_config_directory("");
  EXPECT_EQ(dir, platform::system_config_directory());
}

}  // namespace
