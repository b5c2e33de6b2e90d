// What every backend of file mappings promises: a mapping over a file grows the file to
// its size and is found again by its name (and backing file), a mapping over the paging
// file by its name alone; what one view writes every other view sees, in this process and
// in another; a name no one made opens nothing and says why.
#include "platform/file_mapping/file_mapping.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/environment/environment.h"
#include "platform/process/process.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

namespace {


const std::uint32_t kSize = 8192;
const char kGreeting[] = "written by the parent";
const char kReply[] = "answered by the child";
const std::size_t kReplyAt = kSize - 100;  // on the second page

// Opens the mapping named by QK_TEST_MAPPING (over the backing file QK_TEST_BACKING when
// it is set), checks the parent's greeting and answers it; the exit code tells how far it
// got.
TEST(DISABLED_ChildScenario, MappingPeer) {
  const char* backing = platform::get_env("QK_TEST_BACKING");
  platform::Mapping m = platform::open_mapping(platform::get_env("QK_TEST_MAPPING"), false, backing ? backing : "");
  if (!m.valid()) platform::exit_process_now(2);
  char* view = static_cast<char*>(platform::map_view(m, nullptr, false));
  platform::close_mapping(m);
  if (!view) platform::exit_process_now(3);
  if (std::strcmp(view, kGreeting) != 0) platform::exit_process_now(4);
  std::memcpy(view + kReplyAt, kReply, sizeof kReply);
  platform::unmap_view(view);
  platform::exit_process_now(0);
}

class FileMappingContract : public ::testing::Test {
 protected:
  testsupport::TempDir dir_;
  // A name of its own for each test, as other test programs run beside this one.
  std::string name_ = testsupport::unique_name("QK_SHMtest");
  std::string backing_ = dir_ / "backing";
};

TEST_F(FileMappingContract, AMappingOverAFileGrowsItAndIsFoundAgainByName) {
  testsupport::write_file(backing_, "start");
  platform::SharedFile file = platform::open_backing_file(backing_);
  ASSERT_TRUE(file.valid()) << platform::mapping_failure().text();
  bool existed = true;
  platform::Mapping made = platform::create_mapping(file, name_, kSize, false, &existed);
  platform::close_file(file);
  ASSERT_TRUE(made.valid()) << platform::mapping_failure().text();
  EXPECT_FALSE(existed);
  EXPECT_TRUE(platform::mapping_exists(name_));

  char* first = static_cast<char*>(platform::map_view(made, nullptr, false));
  ASSERT_NE(nullptr, first) << platform::mapping_failure().text();
  EXPECT_EQ(0, std::memcmp(first, "start", 5)) << "the file's bytes are the mapping's";
  EXPECT_EQ('\0', first[kSize - 1]) << "grown with zero bytes";

  platform::Mapping again = platform::open_mapping(name_, false, backing_);
  ASSERT_TRUE(again.valid()) << platform::mapping_failure().text();
  char* second = static_cast<char*>(platform::map_view(again, nullptr, false));
  ASSERT_NE(nullptr, second);
  std::memcpy(first, kGreeting, sizeof kGreeting);
  EXPECT_STREQ(kGreeting, second);
  second[kReplyAt] = 'r';
  EXPECT_EQ('r', first[kReplyAt]);

  // Made again, it is the same mapping, whatever size is asked for now.
  platform::SharedFile reopened = platform::open_backing_file(backing_);
  platform::Mapping third = platform::create_mapping(reopened, name_, kSize / 2, false, &existed);
  platform::close_file(reopened);
  ASSERT_TRUE(third.valid());
  EXPECT_TRUE(existed);
  char* third_view = static_cast<char*>(platform::map_view(third, nullptr, false));
  ASSERT_NE(nullptr, third_view);
  EXPECT_EQ('r', third_view[kReplyAt]);

  EXPECT_TRUE(platform::unmap_view(third_view));
  EXPECT_TRUE(platform::unmap_view(second));
  EXPECT_TRUE(platform::unmap_view(first));
  EXPECT_FALSE(platform::unmap_view(first)) << "a view goes once";
  platform::close_mapping(third);
  platform::close_mapping(again);
  platform::close_mapping(made);
  EXPECT_EQ(static_cast<std::size_t>(kSize), testsupport::read_file(backing_).size());
  EXPECT_EQ(kGreeting, testsupport::read_file(backing_).substr(0, sizeof kGreeting - 1))
      << "the file keeps what the views wrote";
}

TEST_F(FileMappingContract, AnotherProcessSharesAMappingOverAFile) {
  platform::SharedFile file = platform::open_backing_file(backing_);
  platform::Mapping made = platform::create_mapping(file, name_, kSize, false);
  platform::close_file(file);
  ASSERT_TRUE(made.valid()) << platform::mapping_failure().text();
  char* view = static_cast<char*>(platform::map_view(made, nullptr, false));
  ASSERT_NE(nullptr, view);
  std::memcpy(view, kGreeting, sizeof kGreeting);

  const testsupport::Run r = testsupport::run_child(
      "MappingPeer", testsupport::ChildOptions().set("QK_TEST_MAPPING", name_).set("QK_TEST_BACKING", backing_));
  EXPECT_EQ(0u, r.exit_code) << r.err;
  EXPECT_STREQ(kReply, view + kReplyAt);
  platform::unmap_view(view);
  platform::close_mapping(made);
}

TEST_F(FileMappingContract, AnotherProcessSharesAMappingOverThePagingFileByItsName) {
  bool existed = true;
  platform::Mapping made = platform::create_mapping(platform::SharedFile(), name_, kSize, false, &existed);
  ASSERT_TRUE(made.valid()) << platform::mapping_failure().text();
  EXPECT_FALSE(existed);
  char* view = static_cast<char*>(platform::map_view(made, nullptr, false));
  ASSERT_NE(nullptr, view);
  EXPECT_EQ('\0', view[kSize - 1]) << "a new mapping holds zero bytes";
  std::memcpy(view, kGreeting, sizeof kGreeting);

  const testsupport::Run r = testsupport::run_child(
      "MappingPeer", testsupport::ChildOptions().set("QK_TEST_MAPPING", name_).unset("QK_TEST_BACKING"));
  EXPECT_EQ(0u, r.exit_code) << r.err;
  EXPECT_STREQ(kReply, view + kReplyAt);
  platform::unmap_view(view);
  platform::close_mapping(made);
  platform::remove_paging_mapping(name_);
}

TEST_F(FileMappingContract, ANameNoOneMadeOpensNothingAndSaysWhy) {
  EXPECT_FALSE(platform::mapping_exists(name_));
  const platform::Mapping m = platform::open_mapping(name_, false);
  EXPECT_FALSE(m.valid());
  EXPECT_NE(0u, platform::mapping_error());
  EXPECT_TRUE(platform::mapping_failure().failed());
  EXPECT_NE(std::string::npos, platform::mapping_failure().text().find(name_)) << platform::mapping_failure().text();
  char not_a_view[16];
  EXPECT_FALSE(platform::unmap_view(not_a_view)) << "no view at an address that is not one";
}

TEST_F(FileMappingContract, AReadOnlyMappingGivesReadOnlyViewsOnly) {
  // A read-only mapping cannot grow its file: the file has the size already.
  std::string bytes(kSize, '\0');
  bytes.replace(0, sizeof kGreeting, kGreeting, sizeof kGreeting);
  testsupport::write_file(backing_, bytes);
  platform::SharedFile file = platform::open_backing_file(backing_);
  platform::Mapping m = platform::create_mapping(file, name_, kSize, true);
  platform::close_file(file);
  ASSERT_TRUE(m.valid()) << platform::mapping_failure().text();
  EXPECT_EQ(nullptr, platform::map_view(m, nullptr, false));
  const char* view = static_cast<const char*>(platform::map_view(m, nullptr, true));
  ASSERT_NE(nullptr, view) << platform::mapping_failure().text();
  EXPECT_EQ(0, std::memcmp(view, kGreeting, sizeof kGreeting - 1));
  platform::unmap_view(const_cast<char*>(view));
  platform::close_mapping(m);
}

}  // namespace
