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
#include <string>

#include "env/env.h"
#include "log/logger.h"
#include "platform/process.h"

namespace {

LoggerGuard logger_guard;

const char* const java_heap_option = "-Xmx512M";
const std::string class_path_separator(";");

// A missing variable stands as the empty text.
std::string setting(const char* name) {
  const char* value = env_lookup(name, 0);
  return std::string(value ? value : "");
}

void append_java_path(std::string& executable) {
  executable += "\"" + setting("QK_JRE_INSTALL_DIR") + "/bin/java" + ".exe" + "\"";
}

void append_java_options(std::string& arguments) {
  arguments += std::string(java_heap_option) + " " + "-cp ." + class_path_separator + "\"" +
               setting("QK_ROOT") + "/java/lib" + "\"" + " ";
}

void append_jar_option(std::string& arguments) {
  arguments += std::string("-jar ") + "\"" + setting("QK_ROOT") + "/java/lib/" + "Brimvale.jar" + "\"" + " ";
}

// Appends the caller's arguments up to a "-V" and then the root argument; 1 when "-V" was met.
int append_user_arguments(std::string& arguments, char** argv) {
  int print_only = 0;
  for (char** arg = argv + 1; *arg; ++arg) {
    if (std::string(*arg) == "-V") {
      print_only = 1;
      break;
    }
    std::string text(*arg);
    if (text.find(' ') != std::string::npos) text = "\"" + text + "\"";
    arguments += text + " ";
  }
  arguments += "-N \"" + setting("QK_ROOT") + "\" ";
  return print_only;
}

int run_command(std::string executable, std::string arguments) {
  const std::string command = executable + " " + arguments;
  unsigned long result = 77;
  platform::CommandResult child = platform::run_command_line(command);
  if (!child.started) {
    result = child.error;
    if (stdlog && stdlog->isOn("Brimvale", __LINE__, ERROR)) {
      stdlog->stream() << "Error returned from command. Command: " << command << ". Exit Code:" << result;
      stdlog->commit();
    }
    std::cerr << "Error returned from command. Command: " << command << ". Exit Code:" << result << std::endl;
  } else if (child.exit_known) {
    result = child.exit_code;
    if (stdlog && stdlog->isOn("Brimvale", __LINE__, MILESTONE)) {
      stdlog->stream() << "Error returned from command. Command: " << command << ". Exit Code:" << result;
      stdlog->commit();
    }
  }
  return static_cast<int>(result);
}

}  // namespace

int main(int, char** argv) {
  std::string executable;
  std::string arguments;
  append_java_path(executable);
  append_java_options(arguments);
  append_jar_option(arguments);
  if (append_user_arguments(arguments, argv)) {
    std::cerr << "Invocation Command Line:" << std::endl;
    std::cerr << executable << " " << arguments << std::endl;
    return 9;
  }
  if (stdlog && stdlog->isOn("Brimvale", __LINE__, MILESTONE)) {
    stdlog->stream() << "Invocation Command Line:" << executable << " " << arguments;
    stdlog->commit();
  }
  return run_command(executable, arguments);
}
