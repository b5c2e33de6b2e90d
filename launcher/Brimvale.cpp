// Brimvale: starts the installation's Java loader.
//
// The command line is the quoted Java executable, the heap option, the class path, the
// loader archive, the caller's arguments and the root argument:
//
//   "J/bin/java.exe" -Xmx512M -cp .;"R/java/lib" -jar "R/java/lib/Brimvale.jar" A1 ... An -N "R"
//
// with J the Java runtime's directory (QK_JRE_INSTALL_DIR) and R the installation root
// (QK_ROOT); it always ends with a space. "-V" prints it instead of running it.
#include <iostream>

#include "env/env.h"
#include "log/logger.h"
#include "platform/process/process.h"
#include "string/String.h"

#define QK_LOG_SOURCE "Brimvale"

// The launcher's program name, whatever its executable is called: the name of its records,
// of the shared block's process-name filters and of "%n" in file names. Constant-
// initialised, so it is in place before any module's logger start-up runs.
char program_name[64] = "Brimvale";

// The launcher starts its child before the framework's start-up (see main).
extern const bool framework_start_deferred = true;

namespace {

LoggerGuard logger_guard;

const char* const java_heap_option = "-Xmx512M";
const String class_path_separator(";");

// A missing variable stands as the empty text; QK_ROOT is looked up afresh each time.
String setting(const char* name) { return String(env_lookup(name, 0)); }

// The text with the double quote that closes it. The runtime splits its command line by the
// C runtime's rules, where backslashes right before a double quote escape it, so a run of
// backslashes that ends the text is doubled: the quote then closes, and the backslashes
// arrive as given ("C:\qk\" stays C:\qk\ instead of swallowing the rest of the line).
// Backslashes anywhere else are left as they are.
String closed_by_quote(const String& text) {
  String result = text;
  const char* bytes = static_cast<const char*>(text);
  for (int i = text.length(); i > 0 && bytes[i - 1] == '\\'; --i) result += "\\";
  result += "\"";
  return result;
}

void append_java_path(String& executable) {
  executable += "\"";
  executable += closed_by_quote(setting("QK_JRE_INSTALL_DIR") + "/bin/java" + ".exe");
}

void append_java_options(String& arguments) {
  arguments += java_heap_option;
  arguments += " ";
  arguments += "-cp .";
  arguments += class_path_separator;
  arguments += "\"";
  arguments += closed_by_quote(setting("QK_ROOT") + "/java/lib");
  arguments += " ";
}

void append_jar_option(String& arguments) {
  arguments += "-jar ";
  arguments += "\"";
  arguments += closed_by_quote(setting("QK_ROOT") + "/java/lib/" + "Brimvale.jar");
  arguments += " ";
}

// Appends the caller's arguments up to a "-V", then the root argument; 1 when "-V" was met.
// Only a space makes an argument quoted; nothing inside it is escaped (only the backslashes
// that end a quoted argument are doubled, see closed_by_quote).
int append_user_arguments(String& arguments, char** argv) {
  int print_only = 0;
  for (char** arg = argv + 1; *arg; ++arg) {
    if (String(*arg) == "-V") {
      print_only = 1;
      break;
    }
    String text(*arg);
    if (text.contains(" ")) text = "\"" + closed_by_quote(text);
    arguments += text;
    arguments += " ";
  }
  arguments += "-N \"";
  arguments += closed_by_quote(setting("QK_ROOT"));
  arguments += " ";
  return print_only;
}

// Starts the runtime on the command line, or tells why not.
//
// Without the runtime's directory the executable is "/bin/java.exe", which Windows looks for
// at the root of the current drive and does not find; a POSIX system might have a java of
// its own there. No runtime is started, on every build, and the start fails as a missing
// file does.
platform::Child start_command(const String& command) {
  const char* runtime_dir = env_lookup("QK_JRE_INSTALL_DIR", 0);
  if (runtime_dir && runtime_dir[0]) return platform::start_command_line(static_cast<const char*>(command));
  platform::Child missing;
  missing.error = platform::kFileNotFound;
  return missing;
}

// Waits for the started runtime; the result is the child's exit code, the system error
// code when it could not start, or 77 when its exit code could not be read.
unsigned long run_command(const String& command, platform::Child& started) {
  unsigned long result = 77;
  const platform::CommandResult child = platform::wait_for_child(started);
  if (!child.started) {
    result = child.error;
    QK_LOG(ERROR) << "Error returned from command. Command: " << command << ". Exit Code:" << result;
    std::cerr << "Error returned from command. Command: " << command << ". Exit Code:" << result << std::endl;
  } else if (child.exit_known) {
    result = child.exit_code;
    QK_LOG(MILESTONE) << "Error returned from command. Command: " << command << ". Exit Code:" << result;
  }
  return result;
}

}  // namespace

int main(int, char** argv) {
  String executable;
  String arguments;
  append_java_path(executable);
  append_java_options(arguments);
  append_jar_option(arguments);
  if (append_user_arguments(arguments, argv)) {
    startLogger();
    std::cerr << "Invocation Command Line:" << std::endl;
    std::cerr << executable << " " << arguments << std::endl;
    return 9;
  }
  // The runtime starts first: the logger's start-up (the shared block, the log file, the
  // locale), which a launcher logging at the default threshold writes nothing with, runs
  // while the runtime starts rather than before it.
  // A start-up that will end the process (no installation key) still ends it before the
  // runtime starts, so that a misconfigured installation never leaves a runtime behind.
  if (!env_lookup("QK_KEY", 0) && !env_lookup("QK_LOG_NOKEY", 0)) startLogger();
  const String command = executable + " " + arguments;
  platform::Child child = start_command(command);
  startLogger();
  QK_LOG(MILESTONE) << "Invocation Command Line:" << executable << " " << arguments;
  return static_cast<int>(run_command(command, child));
}
