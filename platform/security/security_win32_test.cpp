// The access lists of the shared objects, read back from the objects themselves: everyone
// may use them, only their creator, SYSTEM and the administrators may do more.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/file_mapping/file_mapping.h"
#include "platform/named_lock/named_lock.h"
#include "platform/process/process.h"
#include "tests/support/testsupport.h"

namespace {

const char kEveryone[] = "S-1-1-0";
const char kSystem[] = "S-1-5-18";
const char kAdministrators[] = "S-1-5-32-544";

std::string creator() {
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  BYTE buffer[512];
  DWORD size = 0;
  EXPECT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
  CloseHandle(token);
  char* text = nullptr;
  ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
  std::string sid = text ? text : "";
  LocalFree(text);
  return sid;
}

// The allowed rights by SID of the object's access list; "null" when it is present but
// null (every right to everyone), "none" when it cannot be read.
std::map<std::string, DWORD> access_list(HANDLE object, SE_OBJECT_TYPE type) {
  std::map<std::string, DWORD> rights;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(object, type, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd) !=
      ERROR_SUCCESS) {
    rights["none"] = 0;
    return rights;
  }
  if (!dacl) rights["null"] = GENERIC_ALL;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) {
      rights["other ace type"] = allowed->Header.AceType;
      continue;
    }
    char* text = nullptr;
    ConvertSidToStringSidA(reinterpret_cast<PSID>(&allowed->SidStart), &text);
    rights[text ? text : "?"] |= allowed->Mask;
    LocalFree(text);
  }
  LocalFree(sd);
  return rights;
}

// Everyone gets exactly the shared rights; the creator, SYSTEM and the administrators all.
void expect_list(const std::map<std::string, DWORD>& rights, DWORD everyone, DWORD all, const char* what) {
  std::map<std::string, DWORD> want = {{kEveryone, everyone}, {kSystem, all}, {kAdministrators, all}};
  want[creator()] = all;
  EXPECT_EQ(want, rights) << what;
  auto found = rights.find(kEveryone);
  ASSERT_NE(found, rights.end()) << what;
  EXPECT_EQ(0u, found->second & (WRITE_DAC | WRITE_OWNER | DELETE)) << what;
}

TEST(SharedObjectSecurity, TheLoadersProcessMayBeWaitedForAndQueriedByOthers) {
  const std::string line = "\"" + platform::program_path() + "\" --gtest_list_tests --gtest_filter=NoTest.None";
  platform::Child child = platform::start_command_line(line);
  ASSERT_TRUE(child.started) << child.error;
  const auto rights = access_list(reinterpret_cast<HANDLE>(child.handle), SE_KERNEL_OBJECT);
  platform::wait_for_child(child);
  const DWORD everyone = SYNCHRONIZE | READ_CONTROL | PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION;
  expect_list(rights, everyone, PROCESS_ALL_ACCESS, "process");
  auto found = rights.find(kEveryone);
  if (found != rights.end()) {
    EXPECT_EQ(0u, found->second & (PROCESS_VM_WRITE | PROCESS_VM_OPERATION | PROCESS_CREATE_THREAD |
                                   PROCESS_TERMINATE | PROCESS_DUP_HANDLE));
  }
}

TEST(SharedObjectSecurity, TheLogMutexMayBeWaitedForAndReleasedByOthers) {
  const std::string name = "QK_SEM_security_" + std::to_string(GetCurrentProcessId());
  platform::NamedLock lock(name, platform::NamedLock::everyone, "");
  ASSERT_TRUE(lock.ok());
  HANDLE seen = OpenMutexA(READ_CONTROL, FALSE, name.c_str());
  ASSERT_NE(nullptr, seen);
  expect_list(access_list(seen, SE_KERNEL_OBJECT), SYNCHRONIZE | READ_CONTROL | MUTEX_MODIFY_STATE,
              MUTEX_ALL_ACCESS, "mutex");
  CloseHandle(seen);
  // A second open (as another process of the installation makes it) asks only for what
  // the list grants everyone, and serves.
  platform::NamedLock again(name, platform::NamedLock::everyone, "");
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(platform::LockWait::acquired, again.wait(0));
  again.release();
}

// Wine keeps the lists of kernel objects, but makes a file's from its POSIX mode bits.
bool under_wine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

TEST(SharedObjectSecurity, BackingFilesMayBeReadAndWrittenByOthers) {
  if (under_wine()) GTEST_SKIP() << "Wine gives a file the list of its POSIX mode";
  testsupport::TempDir dir;
  platform::SharedFile file = platform::open_backing_file(dir / "000000fe");
  ASSERT_TRUE(file.valid());
  expect_list(access_list(reinterpret_cast<HANDLE>(file.value), SE_FILE_OBJECT),
              FILE_GENERIC_READ | FILE_GENERIC_WRITE, FILE_ALL_ACCESS, "backing file");
  platform::close_file(file);
}

TEST(SharedObjectSecurity, MappingsMayBeMappedByOthers) {
  testsupport::TempDir dir;
  const std::string path = dir / "000000ff";
  platform::SharedFile file = platform::open_backing_file(path);
  ASSERT_TRUE(file.valid());
  const std::string name = "QK_SHM_security_" + std::to_string(GetCurrentProcessId());
  platform::Mapping mapping = platform::create_mapping(file, name, 4096, false);
  platform::close_file(file);
  ASSERT_TRUE(mapping.valid());
  expect_list(access_list(reinterpret_cast<HANDLE>(mapping.value), SE_KERNEL_OBJECT),
              READ_CONTROL | SECTION_QUERY | SECTION_MAP_READ | SECTION_MAP_WRITE, SECTION_ALL_ACCESS, "mapping");
  platform::Mapping paging = platform::create_mapping(platform::SharedFile(), name + "_paging", 4096, false);
  ASSERT_TRUE(paging.valid());
  expect_list(access_list(reinterpret_cast<HANDLE>(paging.value), SE_KERNEL_OBJECT),
              READ_CONTROL | SECTION_QUERY | SECTION_MAP_READ | SECTION_MAP_WRITE, SECTION_ALL_ACCESS,
              "paging-file mapping");
  platform::close_mapping(paging);
  platform::close_mapping(mapping);
}

}  // namespace
