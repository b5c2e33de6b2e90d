// Shared-memory segments seen from several processes. The second process is a child copy
// of this program (run_child); QK_SHM_TEST_KEY names the segment it uses.
#include "env/shmem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "env/env.h"
#include "platform/environment/environment.h"
#include "platform/file_mapping/file_mapping.h"
#include "platform/named_lock/named_lock.h"
#include "platform/process/process.h"
#include "tests/support/test_child.h"
#include "tests/support/testsupport.h"

namespace {

using testsupport::ScopedEnv;
using testsupport::TempDir;

const char key_variable[] = "QK_SHM_TEST_KEY";
const std::uint32_t segment_size = 4096;
const char creation_lock_name[] = "{B5E0C2BD-6805-411c-AA44-34D102AB4FFB}";

int child_key() { return std::atoi(platform::get_env(key_variable)); }

char* attach_or_die(int key, int flags) {
  if (shm_get(key, segment_size, flags) != key) platform::exit_process_now(3);
  void* p = shm_attach(key, nullptr, flags);
  if (p == SHM_ATTACH_FAILED) platform::exit_process_now(4);
  return static_cast<char*>(p);
}

void print(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// --- The second processes ----------------------------------------------------------------

// Reads the parent's bytes, answers at offset 100.
TEST(DISABLED_ChildScenario, ShmemExchange) {
  char* p = attach_or_die(child_key(), 950);
  print(p);
  std::strcpy(p + 100, "from the child");
}

// Writes and ends, leaving the bytes to a later process.
TEST(DISABLED_ChildScenario, ShmemLeave) { std::strcpy(attach_or_die(child_key(), 0), "left behind"); }

TEST(DISABLED_ChildScenario, ShmemFind) { print(attach_or_die(child_key(), 0)); }

// Reads, then writes through a read-only view.
TEST(DISABLED_ChildScenario, ShmemWriteReadOnly) {
  volatile char* p = attach_or_die(child_key(), SHM_RDONLY_FLAG);
  print(const_cast<char*>(p));
  print(" | writing");
  p[0] = 'X';
  print(" | written");
}

TEST(DISABLED_ChildScenario, ShmemDieHoldingLock) {
  auto* lock = new platform::NamedLock(creation_lock_name, platform::NamedLock::default_access, shm_directory());
  if (lock->wait(platform::NamedLock::forever) == platform::LockWait::failed) platform::exit_process_now(5);
  platform::exit_process_now(0);  // the lock is never released
}

TEST(DISABLED_ChildScenario, ShmemTryLock) {
  platform::NamedLock lock(creation_lock_name, platform::NamedLock::default_access, shm_directory());
  print(lock.wait(200) == platform::LockWait::timed_out ? "busy" : "free");
}

// Keys that no other test run on the machine uses at the same time.
int fresh_key() {
  static int counter = 0;
  return static_cast<int>(0x40000000 + (platform::process_id() % 100000) * 1000 + ++counter);
}

testsupport::Run run_child(const char* scenario, int key) {
  return testsupport::run_child(scenario, testsupport::ChildOptions().set(key_variable, std::to_string(key)));
}

// A new folder in a temporary folder that lives as long as this process. Windows cannot
// delete a backing file while its mapping is open, and the mappings stay open until the
// process ends, so there the folders are left behind in the system's temporary folder.
std::string fresh_folder() {
#ifdef _WIN32
  static TempDir* base = new TempDir;
#else
  static TempDir* base = new TempDir;
  static std::unique_ptr<TempDir> remove_at_exit(base);
#endif
  static int counter = 0;
  return *base / std::to_string(++counter);
}

// The settings' first lookup needs an installation root and a local folder.
class ShmemTest : public ::testing::Test {
 protected:
  std::string dir = fresh_folder();
  ScopedEnv root{"QK_ROOT", fresh_folder().c_str()};
  ScopedEnv local{"QK_LOCAL", fresh_folder().c_str()};
  ScopedEnv site{"QK_SITE", dir.c_str()};
};

TEST_F(ShmemTest, TwoProcessesShareOneSegment) {
  int key = fresh_key();
  ASSERT_EQ(shm_get(key, segment_size, 0), key);
  char* p = static_cast<char*>(shm_attach(key, nullptr, 0));
  ASSERT_NE(p, SHM_ATTACH_FAILED);
  std::strcpy(p, "from the parent");

  testsupport::Run child = run_child("ShmemExchange", key);
  EXPECT_EQ(child.exit_code, 0u) << child.err;
  EXPECT_EQ(child.out, "from the parent");
  EXPECT_STREQ(p + 100, "from the child");
  EXPECT_EQ(shm_detach(p), 0);
}

TEST_F(ShmemTest, LaterProcessFindsWhatAnEarlierOneLeft) {
  int key = fresh_key();
  EXPECT_EQ(run_child("ShmemLeave", key).exit_code, 0u);
  testsupport::Run later = run_child("ShmemFind", key);
  EXPECT_EQ(later.exit_code, 0u) << later.err;
  EXPECT_EQ(later.out, "left behind");
}

TEST_F(ShmemTest, BackingFileIsNamedByTheKeyUnderTheSiteFolder) {
  ASSERT_EQ(shm_get(255, 64, 0), 255);
  EXPECT_TRUE(testsupport::file_exists(dir + "/shm/000000ff"));
  EXPECT_GE(testsupport::read_file(dir + "/shm/000000ff").size(), 64u);
}

TEST_F(ShmemTest, WithoutSiteTheRootGetsSiteAndShmFolders) {
  std::string root = fresh_folder();
  ScopedEnv no_site("QK_SITE", nullptr);
  ScopedEnv r("QK_ROOT", root.c_str());
  int key = fresh_key();
  ASSERT_EQ(shm_get(key, 64, 0), key);
  char name[9];
  std::snprintf(name, sizeof name, "%08x", static_cast<unsigned>(key));
  EXPECT_TRUE(testsupport::file_exists(root + "/site/shm/" + name));
}

// The settings are loaded while the root is still there.
TEST(DISABLED_ChildScenario, ShmemWithoutRoot) {
  env_lookup("QK_SITE", 0);
  testsupport::set_env("QK_SITE", nullptr);
  testsupport::set_env("QK_ROOT", nullptr);
  shm_get(child_key(), 64, 0);
}

TEST_F(ShmemTest, MissingRootIsFatal) {
  const testsupport::Run r = run_child("ShmemWithoutRoot", fresh_key());
  EXPECT_EQ(testsupport::observed_exit_code(999), static_cast<int>(r.exit_code)) << r.err;
  EXPECT_EQ("\nKVO23116 QK_ROOT not set", r.err);
}

TEST_F(ShmemTest, PrivateKeysInOneSecondAreOneApart) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::time_t before = std::time(nullptr);
    int first = shm_get(0, 64, 0);
    int second = shm_get(0, 64, 0);
    std::time_t after = std::time(nullptr);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    char* a = static_cast<char*>(shm_attach(first, nullptr, 0));
    char* b = static_cast<char*>(shm_attach(second, nullptr, 0));
    ASSERT_NE(a, SHM_ATTACH_FAILED);
    ASSERT_NE(b, SHM_ATTACH_FAILED);
    a[0] = 'a';
    b[0] = 'b';
    EXPECT_EQ(a[0], 'a') << "two keys, two segments";
    platform::remove_paging_mapping("QK_SHM" + std::to_string(first));
    platform::remove_paging_mapping("QK_SHM" + std::to_string(second));
    if (before != after) continue;  // the clock moved on between the two
    int clock_key = static_cast<int>((static_cast<long long>(before) * 256) & 0x7FFFFFFF);
    EXPECT_EQ(first >> 8, clock_key >> 8) << "the key comes from the clock";
    EXPECT_EQ(second, first + 1);
    return;
  }
  FAIL() << "the clock kept moving";
}

TEST_F(ShmemTest, SegmentThatCannotBeMadeGivesMinusOneAndNoMemory) {
  std::string plain = fresh_folder();
  testsupport::write_file(plain, "not a folder");
  ScopedEnv site_is_a_file("QK_SITE", plain.c_str());
  errno = 0;
  EXPECT_EQ(shm_get(fresh_key(), 64, 0), -1);
  EXPECT_EQ(errno, ENOMEM);
  errno = 0;
  EXPECT_EQ(shm_get(0, 0, 0), -1) << "a private segment needs a size";
  EXPECT_EQ(errno, ENOMEM);
}

TEST_F(ShmemTest, AttachOfUnknownKeyGivesMinusOne) {
  EXPECT_EQ(shm_attach(fresh_key(), nullptr, 0), SHM_ATTACH_FAILED);
  EXPECT_EQ(shm_attach(fresh_key(), nullptr, SHM_RDONLY_FLAG), SHM_ATTACH_FAILED);
}

TEST_F(ShmemTest, ReadOnlyAttachmentSeesButCannotWrite) {
  int key = fresh_key();
  ASSERT_EQ(shm_get(key, segment_size, 0), key);
  char* rw = static_cast<char*>(shm_attach(key, nullptr, 0));
  const char* ro = static_cast<const char*>(shm_attach(key, nullptr, SHM_RDONLY_FLAG));
  ASSERT_NE(rw, SHM_ATTACH_FAILED);
  ASSERT_NE(ro, SHM_ATTACH_FAILED);
  ASSERT_NE(static_cast<const void*>(ro), static_cast<void*>(rw));
  std::strcpy(rw, "shared bytes");
  EXPECT_STREQ(ro, "shared bytes");

  testsupport::Run child = run_child("ShmemWriteReadOnly", key);
  EXPECT_NE(child.exit_code, 0u);
  EXPECT_NE(child.exit_code, testsupport::kNoSuchScenario);
  EXPECT_EQ(child.out.substr(0, 22), "shared bytes | writing");
  EXPECT_EQ(child.out.find("written"), std::string::npos);
  EXPECT_STREQ(rw, "shared bytes");
  shm_detach(ro);
  shm_detach(rw);
}

TEST_F(ShmemTest, HeldCreationLockExcludesOtherProcesses) {
  platform::NamedLock lock(creation_lock_name, platform::NamedLock::default_access, shm_directory());
  ASSERT_TRUE(lock.ok());
  ASSERT_EQ(lock.wait(platform::NamedLock::forever), platform::LockWait::acquired);
  EXPECT_EQ(run_child("ShmemTryLock", 0).out, "busy");
  lock.release();
  EXPECT_EQ(run_child("ShmemTryLock", 0).out, "free");
}

TEST_F(ShmemTest, HolderKilledWithTheCreationLockDoesNotBlockTheNext) {
  ASSERT_EQ(run_child("ShmemDieHoldingLock", 0).exit_code, 0u);
  int key = fresh_key();
  EXPECT_EQ(shm_get(key, 64, 0), key);
  EXPECT_EQ(run_child("ShmemTryLock", 0).out, "free");
}

}  // namespace
