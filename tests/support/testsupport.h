// Helpers shared by the test programs: temporary folders, files, the environment and
// child processes whose output is captured.
#ifndef QK_TESTS_SUPPORT_TESTSUPPORT_H
#define QK_TESTS_SUPPORT_TESTSUPPORT_H

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A fresh, empty folder removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);
void make_dirs(const std::string& path);

// Sets (or with value nullptr removes) a variable for the life of the object, then
// restores what was there.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_ = false;
  std::string old_;
};

void set_env(const std::string& name, const char* value);  // nullptr removes

// A child's exit code, used as the number it is; a failed check that prints it shows the
// child's standard error beside it, so that every exit-code check says why.
class ExitCode {
 public:
  ExitCode(unsigned long code = 0) : code_(code) {}  // NOLINT: a number where one is expected
  ExitCode(unsigned long code, std::string err) : code_(code), err_(std::move(err)) {}
  operator unsigned long() const { return code_; }
  const std::string& err() const { return err_; }

 private:
  unsigned long code_;
  std::string err_;
};
void PrintTo(const ExitCode& code, std::ostream* out);

struct Run {
  bool started = false;
  ExitCode exit_code;
  std::string out;
  std::string err;
};

// Runs a command line (Windows C runtime quoting) with the current environment, its
// standard output and standard error captured; stdin_text, when given, is its input.
Run run(const std::string& command_line, const std::string& stdin_text = std::string());

// The text with each CR LF pair read as LF (Windows writes CR LF on text-mode streams).
std::string unix_lines(const std::string& text);

// Quotes one argument for a command line so that split_command_line gives it back.
std::string quote_arg(const std::string& arg);

// The folder of the running test program, where sibling programs are built.
std::string program_dir();
// A sibling program's path (".exe" added on Windows).
std::string sibling_program(const std::string& name);
// Runs the sibling program with the arguments (each quoted), its output read with LF line ends.
Run run_sibling(const std::string& name, const std::vector<std::string>& args);

// The calling process's id.
unsigned long process_id();

// A name no other call in any running test program gives: the prefix, this process's id
// and a number of this process ("QK_SEMtest4711_3"), for named objects of a test's own.
std::string unique_name(const std::string& prefix);

// The exit code a process shows after it exited with the code (8 bits on POSIX).
int observed_exit_code(int code);

}  // namespace testsupport

#endif
