// POSIX backend of the identity concept: gethostname and the password database.
#include "platform/identity/identity.h"

#include <ctype.h>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <vector>

namespace platform {

bool computer_name(std::string& name, unsigned max_bytes) {
  name.clear();
  char buf[256] = {0};
  if (max_bytes == 0 || gethostname(buf, sizeof buf - 1) != 0) return false;
  std::string full(buf);
  full = full.substr(0, full.find('.'));
  if (full.empty() || full.size() + 1 > max_bytes) return false;
  name = full;
  return true;
}

bool account_user_name(std::string& name, unsigned max_bytes) {
  name.clear();
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
  struct passwd pw;
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found ||
      !found->pw_name)
    return false;
  std::string user(found->pw_name);
  if (user.empty() || user.size() + 1 > max_bytes) return false;
  name = user;
  return true;
}

std::string system_name() {
  struct utsname u;
  std::string name = uname(&u) == 0 ? u.sysname : "posix";
  for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace platform
