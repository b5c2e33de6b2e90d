// Windows backend of the profile concept: GetPrivateProfileStringA and
// GetWindowsDirectoryA.
#include "platform/profile/profile.h"

#include <windows.h>

#include <vector>

#include "platform/profile/profile_seam.h"

namespace platform {

bool windows_directory(std::string& dir, unsigned max_bytes) {
  dir.clear();
  const std::string& over = testing::windows_directory_override();
  if (!over.empty()) {
    if (over.size() + 1 > max_bytes) return false;
    dir = over;
    return true;
  }
  std::vector<char> buf(max_bytes + 1, '\0');
  UINT n = GetWindowsDirectoryA(buf.data(), max_bytes);
  if (n == 0 || n >= max_bytes) return false;
  dir.assign(buf.data(), n);
  return true;
}

std::string system_config_directory() {
  const std::string& over = testing::system_config_directory_override();
  return over.empty() ? std::string("C:/") : over;
}

unsigned long profile_string(const char* section, const char* key, const char* default_value,
                             char* buf, unsigned long size, const char* file) {
  std::string path = file ? file : "";
  const std::string& over = testing::windows_directory_override();
  if (!over.empty() && path.find_first_of("\\/:") == std::string::npos)
    path = over + "\\" + path;
  return GetPrivateProfileStringA(section, key, default_value, buf, static_cast<DWORD>(size),
                                  path.c_str());
}

}  // namespace platform
