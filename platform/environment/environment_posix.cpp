#include "platform/environment/environment.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

extern char** environ;

namespace platform {

const char* get_env(const char* name) { return name ? getenv(name) : nullptr; }

int put_env(const std::string& assignment) {
  size_t eq = assignment.find('=');
  if (eq == std::string::npos || eq == 0) {
    errno = EINVAL;
    return -1;
  }
  std::string name = assignment.substr(0, eq);
  if (eq + 1 == assignment.size()) return unsetenv(name.c_str());
  return setenv(name.c_str(), assignment.c_str() + eq + 1, 1);
}

std::vector<std::string> environment_entries() {
  std::vector<std::string> entries;
  for (char** e = environ; e && *e; ++e) entries.emplace_back(*e);
  return entries;
}

}  // namespace platform
