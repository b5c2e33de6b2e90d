// Where an installation's settings come from: what the settings load (the first
// env_lookup of the process) did with each QK.env file and each assignment in them, in the
// order it did it. Made by the load itself, so that a tool showing the configuration
// (qklog config) can never disagree with what a process of the installation sees.
//
//   const EnvLoadReport& report = env_load_report();   // loads the files if not yet done
//   for (const EnvFileRead& f : report.files) ... f.path, f.found
#ifndef QK_ENV_ENV_REPORT_H
#define QK_ENV_ENV_REPORT_H

#include <string>
#include <vector>

// One QK.env file the load looked for.
struct EnvFileRead {
  std::string path;
  bool found = false;  // a regular file that could be opened (an empty one too)
};

// What became of one assignment of a file.
enum class EnvAssignmentOutcome {
  set,                // the variable was not set: the file set it
  forced,             // "@NAME=value": it replaced any value
  kept_environment,   // set in the process's environment, which wins
  kept_earlier_file,  // an earlier file of the load set it first
  empty_value,        // "NAME=": sets nothing
  too_long,           // past a bound of the format: not set (the load said so)
};

struct EnvAssignmentRead {
  std::string name;
  std::string value;  // as the file gives it, references and escapes applied
  std::string path;   // the file
  int line = 0;
  EnvAssignmentOutcome outcome = EnvAssignmentOutcome::set;
  std::string earlier_path;  // kept_earlier_file: the file that set it
};

struct EnvLoadReport {
  // Where QK_ROOT and QK_LOCAL came from: "environment", or the legacy file's path.
  std::string root_source, local_source;
  std::vector<EnvFileRead> files;
  std::vector<EnvAssignmentRead> assignments;
};

// The report of this process's settings load, loading the files first when no lookup has.
const EnvLoadReport& env_load_report();

#endif
