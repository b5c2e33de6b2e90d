// Windows backend of the identity concept: GetComputerNameA and GetUserNameA.
#include "platform/identity/identity.h"

#include <windows.h>

#include <vector>

namespace platform {

bool computer_name(std::string& name, unsigned max_bytes) {
  name.clear();
  if (max_bytes == 0) return false;
  std::vector<char> buf(max_bytes, '\0');
  DWORD size = max_bytes;
  if (!GetComputerNameA(buf.data(), &size)) return false;
  name.assign(buf.data());
  return !name.empty();
}

bool account_user_name(std::string& name, unsigned max_bytes) {
  name.clear();
  if (max_bytes == 0) return false;
  std::vector<char> buf(max_bytes, '\0');
  DWORD size = max_bytes;
  if (!GetUserNameA(buf.data(), &size)) return false;
  name.assign(buf.data());
  return !name.empty();
}

std::string system_name() { return "windows"; }

}  // namespace platform
