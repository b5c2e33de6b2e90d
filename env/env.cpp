// The settings lookup and the load of the QK.env files into the process environment.
#include "env/env.h"

#include <ctype.h>
#include <errno.h>
#include <locale.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>

#include "env/env_report.h"
#include "env/internal/env_testing.h"
#include "env/internal/qkenv_parser.h"
#include "env/qkos_report.h"
#include "platform/environment/environment.h"
#include "platform/files/files.h"
#include "platform/messagebox/messagebox.h"
#include "platform/process/process.h"
#include "platform/profile/profile.h"

namespace {

const char kRootVar[] = "QK_ROOT";
const char kLocalVar[] = "QK_LOCAL";
const char kLegacyFile[] = "tallowin.ini";
const char kLegacySection[] = "Tallowin";
const char kConfigFile[] = "QK.env";
const char kRootConfigFile[] = "config/QK.env";
const unsigned long kEnvVarNotFound = 203;  // ERROR_ENVVAR_NOT_FOUND

// The first lookup is made during other modules' static initialisation, perhaps before
// this module's own: all state is either constant-initialised or built on first use (and
// never destroyed, for lookups made by exit-time destructors).
bool config_loaded = false;

enum class Namespace { undetermined, none, present };
Namespace namespace_state = Namespace::undetermined;
char namespace_prefix_1[100];  // namespace (up to 96 characters) + "___"
char namespace_prefix_2[100];  // namespace + ":"

void use_user_locale() { setlocale(LC_ALL, ""); }

// What the load did, for env_load_report; made on first use and never freed.
EnvLoadReport& load_report() {
  static EnvLoadReport& report = *new EnvLoadReport;
  return report;
}
// During the load: the file that set each variable.
std::map<std::string, std::string>& set_by_file() {
  static std::map<std::string, std::string>& files = *new std::map<std::string, std::string>;
  return files;
}

void note_assignment(const qkenv::Assignment& a, const std::string& path, EnvAssignmentOutcome outcome) {
  EnvAssignmentRead read;
  read.name = a.name;
  read.value = qkenv::value_part(a.token);
  read.path = path;
  read.line = a.line;
  read.outcome = outcome;
  if (outcome == EnvAssignmentOutcome::kept_environment) {
    const auto earlier = set_by_file().find(a.name);
    if (earlier != set_by_file().end()) {
      read.outcome = EnvAssignmentOutcome::kept_earlier_file;
      read.earlier_path = earlier->second;
    }
  } else if (outcome == EnvAssignmentOutcome::set || outcome == EnvAssignmentOutcome::forced) {
    set_by_file()[a.name] = path;
  }
  load_report().assignments.push_back(read);
}

std::string format(const char* pattern, const char* a, const char* b = "") {
  std::string out(strlen(pattern) + strlen(a) + strlen(b) + 1, '\0');
  int n = snprintf(&out[0], out.size(), pattern, a, b);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

// What is wrong with the legacy file's value of name.
std::string legacy_problem(const char* name, bool overlength) {
  std::string dir;
  if (!platform::windows_directory(dir, 128)) return "Could not get Windows dir\n";
  std::string path = dir + platform::path_separator() + kLegacyFile;
  if (platform::access_path(path.c_str(), platform::access_exists))
    return format(overlength ? "Overlength value for %s in %s\n" : "Missing value for %s in %s\n", name,
                  kLegacyFile);
  return path + " -- not found\n";
}

// The legacy file's path as the reports name it.
std::string legacy_source() {
  std::string dir;
  return platform::windows_directory(dir, 128) ? dir + platform::path_separator() + kLegacyFile
                                               : std::string(kLegacyFile) + " in the Windows directory";
}

// The line that follows the legacy file's report when the installation cannot be found:
// which of QK_ROOT and QK_LOCAL is missing and where it can be given. The QK.env files
// cannot give them: they are looked for in the folders these two name.
std::string missing_installation_advice(bool root_missing, bool local_missing) {
  const std::string legacy = legacy_source();
  const std::string names = root_missing && local_missing ? std::string(kRootVar) + " and " + kLocalVar
                            : root_missing               ? kRootVar
                                                         : kLocalVar;
  const bool both = root_missing && local_missing;
  return names + (both ? " are" : " is") + " set nowhere: set " + (both ? "them" : "it") +
         " in the environment or in section [" + kLegacySection + "] of " + legacy +
         "; a QK.env file cannot give " + (both ? "them" : "it") + ", as the files are looked for in " +
         kLocalVar + ", " + kRootVar + "/config, " + kRootVar + ", QK_SITE and " +
         platform::system_config_directory() + "\n";
}

// The variable from section "Tallowin" of the legacy file, placed into the environment;
// false, with what is wrong in problem, when the file gives no usable value.
bool legacy_lookup(const char* name, std::string& value_out, std::string& problem) {
  char text[255];
  const size_t name_len = strlen(name);
  if (name_len + 3 > sizeof text) return false;
  memcpy(text, name, name_len);
  text[name_len] = '=';
  char* value = text + name_len + 1;
  const unsigned long space = 253 - static_cast<unsigned long>(name_len);
  unsigned long n = platform::profile_string(kLegacySection, name, "", value, space, kLegacyFile);
  if (value[0] == '\0' || n == space - 1) {
    problem = legacy_problem(name, value[0] != '\0');
    return false;
  }
  env_put(text, 1);
  value_out = value;
  return true;
}

// Layer 4: one assignment of the file at path into the environment.
void apply_assignment(const qkenv::Assignment& a, const std::string& path) {
  const std::string& token = a.token;
  if (token.empty() || token[0] == '.') return;  // a line naming another file sets nothing
  // A token without a name ("@=x") cannot be an assignment; skipping it keeps a
  // malformed line from ending the process.
  if (a.name.empty()) return;
  // A Windows path written with single backslashes loses them; a developer is told where.
  if (a.letter_escaped && platform::get_env("QK_DEVO")) {
    const std::string message = "Value of " + a.name + " in " + path + " line " + std::to_string(a.line) +
                                ": a backslash before a letter gives the letter alone; write "
                                "paths with / or \\\\\n";
    report_message(message.c_str(), REPORT_WARNING, 0);
  }
  // An assignment past a bound is not set, and the rest of the file still counts: no
  // environment holds a longer value, and with a longer name (which could be set) no
  // program could be started any more.
  if (a.too_long) {
    const std::string where = " in " + path + " line " + std::to_string(a.line);
    std::string message;
    switch (a.overflow) {
      case qkenv::Overflow::name:
        message = "Name " + a.name + "..." + where + " is longer than " + std::to_string(qkenv::kNameMax) +
                  " characters; not set\n";
        break;
      case qkenv::Overflow::line:
        message = "Line of " + a.name + where + " is longer than " + std::to_string(qkenv::kLineMax) +
                  " characters; not set\n";
        break;
      default:
        message = "Value of " + a.name + where + " is longer than " + std::to_string(qkenv::kValueMax) +
                  " characters; not set\n";
        break;
    }
    report_message(message.c_str(), REPORT_WARNING, 0);
    note_assignment(a, path, EnvAssignmentOutcome::too_long);
    return;
  }
  const bool empty = qkenv::value_part(token).empty();
  if (token[0] == '@') {
    note_assignment(a, path, empty ? EnvAssignmentOutcome::empty_value : EnvAssignmentOutcome::forced);
    if (!empty) env_put(token.c_str() + 1, 1);
    return;
  }
  if (platform::get_env(a.name.c_str())) return note_assignment(a, path, EnvAssignmentOutcome::kept_environment);
  note_assignment(a, path, empty ? EnvAssignmentOutcome::empty_value : EnvAssignmentOutcome::set);
  if (!empty) env_put(token.c_str(), 1);
}

// Reads one QK.env file into the environment; false when it could not be opened.
bool read_file(const char* dir, const char* file, const char* suffix = "") {
  if (!dir || !file) return false;
  std::string path = dir;
  const char sep = platform::path_separator();
  if (path.empty() || path.back() != sep) path.push_back(sep);
  path += file;
  path += suffix;
  platform::TextReader reader;
  EnvFileRead looked;
  looked.path = path;
  looked.found = reader.open(path.c_str());
  load_report().files.push_back(looked);
  if (!looked.found) return false;
  // The user's locale is taken afresh for each file and after each assignment (a file may
  // set LANG or LC_ALL), but only when a byte from 0x80 up is to be classified: every
  // locale classifies the bytes below alike, and loading one is a good part of a start.
  bool locale_stale = true;
  qkenv::Parser parser([&reader] { return reader.get(); },
                       [](const std::string& name) { return platform::get_env(name.c_str()); },
                       [&locale_stale] {
                         if (!locale_stale) return;
                         use_user_locale();
                         locale_stale = false;
                       });
  qkenv::Assignment a;
  bool assigned = false;
  while (parser.next(a)) {
    apply_assignment(a, path);
    locale_stale = assigned = true;
  }
  // The process keeps the locale of the environment the file left.
  if (assigned && !framework_start_deferred) use_user_locale();
  return true;
}

void load_config() {
  // A program that defers its start-up takes the user's locale in env_complete_start.
  if (!framework_start_deferred) use_user_locale();
  // Copied: a forced assignment in a file may replace the variable while it is in use.
  const char* found_root = platform::get_env(kRootVar);
  std::string root = found_root ? found_root : "";
  // Both are looked for before the report, so that it names every one that is missing;
  // the legacy file's first problem comes first.
  std::string problem, local_problem, unused;
  const bool have_root = found_root || legacy_lookup(kRootVar, root, problem);
  const bool had_local = platform::get_env(kLocalVar) != nullptr;
  const bool have_local = had_local || legacy_lookup(kLocalVar, unused, local_problem);
  load_report().root_source = found_root ? "environment" : legacy_source();
  load_report().local_source = had_local ? "environment" : legacy_source();
  if (!have_root || !have_local) {
    const std::string message =
        (problem.empty() ? local_problem : problem) + missing_installation_advice(!have_root, !have_local);
    report_message(message.c_str(), REPORT_FATAL, 0);
  }

  bool opened = false;
  if (const char* local = platform::get_env(kLocalVar)) {
    const std::string dir = local;
    opened |= read_file(dir.c_str(), kConfigFile);
  }
  if (have_root) {
    opened |= read_file(root.c_str(), kRootConfigFile);
    opened |= read_file(root.c_str(), kConfigFile);
    if (const char* site = platform::get_env("QK_SITE")) {
      const std::string dir = site;
      opened |= read_file(dir.c_str(), kConfigFile);
    }
    opened |= read_file(platform::system_config_directory().c_str(), kConfigFile);
  }
  if (!opened && platform::get_env("QK_DEVO"))
    report_message("No QK config files found\n", REPORT_WARNING, 0);
  set_by_file().clear();
}

bool same_ignoring_case(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
      return false;
  return i == a.size() && b[i] == '\0';
}

}  // namespace

const char* env_lookup(const char* name, short complain) {
  if (!config_loaded) {
    config_loaded = true;  // before the load: lookups made during it do not load again
    load_config();
  }
  if (namespace_state == Namespace::undetermined) {
    const char* ns = platform::get_env("QK_NAMESPACE");
    if (ns) {
      snprintf(namespace_prefix_1, sizeof namespace_prefix_1, "%.96s___", ns);
      snprintf(namespace_prefix_2, sizeof namespace_prefix_2, "%.96s:", ns);
      namespace_state = Namespace::present;
    } else {
      namespace_state = Namespace::none;
    }
  }
  if (!name) name = "";
  if (namespace_state == Namespace::present) {
    if (const char* v = platform::get_env((std::string(namespace_prefix_1) + name).c_str())) return v;
    if (const char* v = platform::get_env((std::string(namespace_prefix_2) + name).c_str())) return v;
  }
  const char* value = platform::get_env(name);
  if (!value && complain == 1)
    report_message(format("Variable %s wasn't in the environment.", name).c_str(), REPORT_FATAL, 0);
  return value;
}

const char* env_lookup_nocase(const char* name, short complain) {
  const char* value = env_lookup(name, 0);
  if (value) return value;
  if (!name) name = "";
  std::string match;
  for (const std::string& entry : platform::environment_entries()) {
    size_t eq = entry.find('=', 1);  // Windows keeps entries such as "=C:=C:\x"
    if (eq == std::string::npos) continue;
    std::string entry_name = entry.substr(0, eq);
    if (same_ignoring_case(entry_name, name)) match = entry_name;
  }
  if (!match.empty()) value = platform::get_env(match.c_str());
  if (!value && complain == 1)
    report_message(format("Variable %s wasn't in the environment.\n"
                          "Tried using case insensitive search.",
                          name)
                       .c_str(),
                   REPORT_FATAL, 0);
  return value;
}

int env_put(const char* assignment, short complain) {
  if (!assignment) assignment = "";
  int result = platform::put_env(assignment);
  if (result == 0 || complain != 1) return result;
  if (platform::last_error() == kEnvVarNotFound) return 0;
  std::string message = "Environment is full or bad enviroment string.\nUnable to add variable (";
  message.append(assignment, strnlen(assignment, 240));
  if (message.size() >= 240) message += "...";
  message += ")";
  report_message(message.c_str(), REPORT_FATAL, 0);
  return result;
}

int env_put_or_exit(const char* assignment, short complain) {
  int result = env_put(assignment, complain);
  if (result != 0) {
    std::string message = "putenv error=" + std::to_string(result) + ", string=" +
                          (assignment ? assignment : "") + "\n";
    report_message(message.c_str(), REPORT_FATAL, 0);
  }
  return result;
}

long env_number(const char* name) {
  const char* value = env_lookup(name, 1);
  if (!value || !isdigit(static_cast<unsigned char>(value[0]))) return -1;
  return strtol(value, nullptr, 0);
}

bool env_key_text(const char* value, unsigned* key) {
  uint32_t packed = 0;
  if (isdigit(static_cast<unsigned char>(value[0]))) {
    std::string number = value;
    if (number.compare(0, 2, "0x") == 0 && number.size() > 10) number.resize(10);
    // Read 64 bits wide on every build, so that a long of 32 bits changes nothing.
    errno = 0;
    const unsigned long long wide = strtoull(number.c_str(), nullptr, 0);
    if (errno == ERANGE || wide > 0xFFFFFFFFull) return false;
    packed = static_cast<uint32_t>(wide);
  } else {
    for (int i = 0; i < 4 && value[i]; ++i) {
      // Widened as a signed byte: from 0x80 up the bits above its own byte are set too.
      const int32_t widened = static_cast<signed char>(value[i]);
      packed |= static_cast<uint32_t>(widened) << (24 - 8 * i);
    }
  }
  *key = packed;
  return true;
}

int env_key(int base, short complain) {
  const char* value = env_lookup("QK_KEY", complain);
  if (!value) return -1;
  unsigned key = 0;
  if (!env_key_text(value, &key)) return -1;
  return static_cast<int>(static_cast<uint32_t>(key) + static_cast<uint32_t>(base));
}

const char* env_path(const char* name, const char* suffix) {
  const char* value = env_lookup(name, 1);
  std::string v = value ? value : "";
  const char sep = platform::path_separator();
  static std::string& env_path_buffer = *new std::string;  // made on first use, never freed
  if (platform::is_absolute_path(v)) {
    env_path_buffer = v;
  } else {
    const char* root = env_lookup("QK_ROOT", 1);
    env_path_buffer = std::string(root ? root : "") + sep + v;
  }
  env_path_buffer += sep;
  if (suffix) env_path_buffer += suffix;
  return env_path_buffer.c_str();
}

void load_program_dir_config() {
  const std::string program = platform::program_path();
  std::string drive, dir;
  platform::split_drive_and_directory(program, drive, dir);
  const std::string folder = drive + dir;
  if (!folder.empty()) read_file(folder.c_str(), kConfigFile);
  std::string target = folder;
  // One trailing separator goes; the root folder keeps its own.
  if (target.size() > 1 && (target.back() == '\\' || target.back() == '/') &&
      target[target.size() - 2] != ':')
    target.pop_back();
  if (!platform::change_directory(target.c_str())) {
    platform::message_box(format("initial chdir in %s", program.c_str()).c_str(), target.c_str(),
                          platform::BoxIcon::error);
    return;
  }
  if (drive.size() == 2 && drive[1] == ':') platform::change_drive(drive[0]);
}

void env_complete_start() {
  if (framework_start_deferred) use_user_locale();
}

const EnvLoadReport& env_load_report() {
  env_lookup("QK_ROOT", 0);
  return load_report();
}

void env_testing_reset() {
  load_report() = EnvLoadReport();
  config_loaded = false;
  namespace_state = Namespace::undetermined;
  namespace_prefix_1[0] = '\0';
  namespace_prefix_2[0] = '\0';
}
