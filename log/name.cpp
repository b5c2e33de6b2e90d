// The process name: taken from the program name at start-up, where the bootstrap forms
// "BSTRAP:name:file" choose the log mode and the file of the default sink.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "log/internal/record.h"
#include "log/detail/logstate.h"
#include "platform/files/files.h"
#include "platform/process/process.h"

using logimpl::copyText;

namespace {

// Reads the name's bootstrap form, if it has one, into the settings.
void applyBootstrapForm(LogProcessSettings& s) {
  char word[sizeof s.process_name];
  copyText(word, sizeof word, s.process_name);
  char* rest = std::strchr(word, ':');
  if (!rest) return;
  *rest++ = '\0';
  for (char* c = word; *c; ++c) *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
  if (std::strcmp(word, "BSTRAP") != 0) return;

  s.mode = LOG_MODE_BOOTSTRAP;
  const char* file_part = "";
  if (char* second = std::strchr(rest, ':')) {
    *second = '\0';
    file_part = second + 1;
  }
  // A bootstrap name holds up to 31 characters.
  char name[32];
  copyText(name, sizeof name, rest);
  copyText(s.process_name, sizeof s.process_name, name);

  if (*file_part) {
    if (std::strcmp(file_part, "stderr") == 0) {
      s.mode = LOG_MODE_STDERR_ONLY;
      copyText(s.file_override, sizeof s.file_override, "stderr");
      return;
    }
    copyText(s.file_override, sizeof s.file_override, file_part);
  }
}

}  // namespace

const char* defaultProgramName() {
  static char name[sizeof program_name];
  if (program_name[0]) return program_name;
  const std::string path = platform::program_path();
  std::size_t start = path.find_last_of(platform::path_separator());
  start = start == std::string::npos ? 0 : start + 1;
  // Windows accepts "/" as well.
  const std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash + 1 > start) start = slash + 1;
  std::string base = path.substr(start);
  const std::size_t n = base.size();
  if (n > 4 && base[n - 4] == '.' && std::tolower(static_cast<unsigned char>(base[n - 3])) == 'e' &&
      std::tolower(static_cast<unsigned char>(base[n - 2])) == 'x' &&
      std::tolower(static_cast<unsigned char>(base[n - 1])) == 'e')
    base.resize(n - 4);
  if (base.empty()) return nullptr;
  copyText(name, sizeof name, base.c_str());
  return name;
}

void applyProgramName(LogProcessSettings& s, const char* program, long full_pid) {
  s.identity[0] = '\0';
  s.file_override[0] = '\0';
  s.mode = LOG_MODE_STANDARD;
  if (!s.process_name[0]) copyText(s.process_name, sizeof s.process_name, program ? program : "?");
  applyBootstrapForm(s);
  if (s.mode != LOG_MODE_BOOTSTRAP) return;

  if (!s.file_override[0]) {
    if (s.process_name[0])
      copyText(s.file_override, sizeof s.file_override, s.process_name);
    else
      std::snprintf(s.file_override, sizeof s.file_override, "ProcID_%ld", full_pid);
  }
  // Without a number in the pattern the file alternates between two numbered files.
  if (!std::strchr(s.file_override, '%')) {
    const std::size_t room = sizeof s.file_override - 4;
    if (std::strlen(s.file_override) > room) s.file_override[room] = '\0';
    std::strcat(s.file_override, ".%0");
  }
}

void setProcessName(const char* name) {
  copyText(log_process.process_name, sizeof log_process.process_name, name);
  copyText(program_name, sizeof program_name, name);
  logimpl::dropFilterVerdict();  // process-name filters judge the new name
}
