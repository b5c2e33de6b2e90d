// POSIX backend of the profile concept: a small initialisation-file reader with the rules
// of GetPrivateProfileStringA, and /etc in the place of the Windows directory.
#include "platform/profile/profile.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "platform/profile/profile_seam.h"

namespace platform {

namespace {

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool same_ignoring_case(const std::string& a, const char* b) {
  size_t n = strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The value of the first key of that name in the first section of that name.
bool find_value(const std::string& path, const char* section, const char* key,
                std::string& value) {
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return false;
  bool in_section = false, seen_section = false, found = false;
  std::string line;
  int c;
  do {
    c = getc(f);
    if (c != EOF && c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    std::string t = trim(line);
    line.clear();
    if (!t.empty() && t[0] == '[') {
      if (in_section) break;  // the first section of the name ended
      size_t close = t.find(']');
      in_section = !seen_section && close != std::string::npos &&
                   same_ignoring_case(trim(t.substr(1, close - 1)), section);
      seen_section = seen_section || in_section;
    } else if (in_section && !t.empty() && t[0] != ';') {
      size_t eq = t.find('=');
      if (eq != std::string::npos && same_ignoring_case(trim(t.substr(0, eq)), key)) {
        value = trim(t.substr(eq + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
            value.back() == value[0])
          value = value.substr(1, value.size() - 2);
        found = true;
        break;
      }
    }
  } while (c != EOF);
  fclose(f);
  return found;
}

}  // namespace

bool windows_directory(std::string& dir, unsigned max_bytes) {
  const std::string& over = testing::windows_directory_override();
  dir = over.empty() ? std::string("/etc") : over;
  if (dir.size() + 1 > max_bytes) {
    dir.clear();
    return false;
  }
  return true;
}

std::string system_config_directory() {
  const std::string& over = testing::system_config_directory_override();
  return over.empty() ? std::string("/etc") : over;
}

unsigned long profile_string(const char* section, const char* key, const char* default_value,
                             char* buf, unsigned long size, const char* file) {
  if (!buf || size == 0) return 0;
  std::string path = file ? file : "";
  if (path.find('/') == std::string::npos) {
    std::string dir;
    if (windows_directory(dir, 4096)) path = dir + "/" + path;
  }
  std::string value;
  if (!section || !key || !find_value(path, section, key, value))
    value = trim(default_value ? default_value : "");
  if (value.size() > size - 1) value.resize(size - 1);
  memcpy(buf, value.c_str(), value.size() + 1);
  return static_cast<unsigned long>(value.size());
}

}  // namespace platform
