#include "platform/environment/environment.h"

#include <windows.h>

#include <stdlib.h>

namespace platform {

const char* get_env(const char* name) { return name ? getenv(name) : nullptr; }

int put_env(const std::string& assignment) { return _putenv(assignment.c_str()); }

std::vector<std::string> environment_entries() {
  std::vector<std::string> entries;
  for (char** e = _environ; e && *e; ++e) entries.emplace_back(*e);
  return entries;
}

}  // namespace platform
