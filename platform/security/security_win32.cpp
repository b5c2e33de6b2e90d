// The access lists of the framework's shared objects (see internal/win32_security.h).
#include "platform/security/win32_security.h"

namespace platform {
namespace win32 {

namespace {

// The process's user, from its token; empty when there is none to read.
std::vector<unsigned char> token_user() {
  std::vector<unsigned char> user;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return user;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size > 0) {
    user.resize(size);
    if (!GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
  }
  CloseHandle(token);
  return user;
}

struct WellKnownSid {
  explicit WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    DWORD size = sizeof bytes;
    ok = CreateWellKnownSid(type, nullptr, bytes, &size) != 0;
  }
  PSID sid() { return bytes; }
  BYTE bytes[SECURITY_MAX_SID_SIZE];
  bool ok = false;
};

}  // namespace

DWORD full_rights(SharedKind kind) {
  switch (kind) {
    case SharedKind::process: return PROCESS_ALL_ACCESS;
    case SharedKind::mutex: return MUTEX_ALL_ACCESS;
    case SharedKind::mapping: return SECTION_ALL_ACCESS;
    case SharedKind::file: break;
  }
  return FILE_ALL_ACCESS;
}

DWORD shared_rights(SharedKind kind) {
  switch (kind) {
    case SharedKind::process:
      return SYNCHRONIZE | READ_CONTROL | PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION;
    case SharedKind::mutex: return SYNCHRONIZE | READ_CONTROL | MUTEX_MODIFY_STATE;
    case SharedKind::mapping: return READ_CONTROL | SECTION_QUERY | SECTION_MAP_READ | SECTION_MAP_WRITE;
    case SharedKind::file: break;
  }
  return FILE_GENERIC_READ | FILE_GENERIC_WRITE;
}

SharedObjectSecurity::SharedObjectSecurity(SharedKind kind) {
  sa_.nLength = sizeof sa_;
  sa_.lpSecurityDescriptor = &sd_;
  sa_.bInheritHandle = FALSE;
  std::vector<unsigned char> user = token_user();
  WellKnownSid system(WinLocalSystemSid), administrators(WinBuiltinAdministratorsSid), everyone(WinWorldSid);
  if (user.empty() || !system.ok || !administrators.ok || !everyone.ok) return;
  PSID creator = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  struct Entry {
    PSID sid;
    DWORD rights;
  } entries[] = {{creator, full_rights(kind)},
                 {system.sid(), full_rights(kind)},
                 {administrators.sid(), full_rights(kind)},
                 {everyone.sid(), shared_rights(kind)}};
  DWORD size = sizeof(ACL);
  for (const Entry& e : entries) size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(e.sid);
  acl_.assign((size + 3) & ~3u, 0);
  PACL acl = reinterpret_cast<PACL>(acl_.data());
  if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION)) return;
  for (const Entry& e : entries)
    if (!AddAccessAllowedAce(acl, ACL_REVISION, e.rights, e.sid)) return;
  built_ = InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&sd_, TRUE, acl, FALSE);
}

}  // namespace win32
}  // namespace platform
