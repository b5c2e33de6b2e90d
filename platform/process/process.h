// Processes: starting a program from one command line, waiting for it, and the calling
// process's own identity and end.
//
// A command line is one text, as Windows hands it to CreateProcessA. On POSIX it is split
// into arguments with the Windows C runtime's rules (split_command_line), so one command
// line starts the same program with the same arguments on every build.
//
// Threads: every call may come from any thread at once (both backends serialise what the system
// shares between starts); a Child is waited for once, by one thread.
#ifndef QK_PLATFORM_PROCESS_PROCESS_H
#define QK_PLATFORM_PROCESS_PROCESS_H

#include <stdint.h>

#include <string>
#include <vector>

namespace platform {

struct CommandResult {
  bool started = false;        // the child was created
  unsigned long error = 0;     // system error code when it was not (2: file not found)
  bool exit_known = false;     // the child's exit code could be read
  unsigned long exit_code = 0; // the child's exit code (128 + N for a POSIX signal N)
};

// The system error code of a program that is not there (ERROR_FILE_NOT_FOUND; ENOENT).
constexpr unsigned long kFileNotFound = 2;

// A child started by start_command_line, to be waited for once by wait_for_child.
struct Child {
  bool started = false;     // the child was created
  unsigned long error = 0;  // system error code when it was not
  intptr_t handle = 0;      // its process id (POSIX) or process handle (Windows)
};

// Starts the command line as a child on the same console with the caller's environment,
// standard streams and current directory, and waits for it without time limit.
CommandResult run_command_line(const std::string& command_line);

// run_command_line in two steps, so that the caller may work while the child runs.
Child start_command_line(const std::string& command_line);
CommandResult wait_for_child(Child& child);

// As run_command_line, but the child's standard output and standard error go to the named
// files (created or truncated; an empty name keeps the caller's stream) and its standard
// input reads from the named file (empty: the caller's). For tests and tools.
CommandResult run_command_line_redirected(const std::string& command_line,
                                          const std::string& stdin_path,
                                          const std::string& stdout_path,
                                          const std::string& stderr_path);

// The Windows C runtime's rules for splitting a command line into arguments.
std::vector<std::string> split_command_line(const std::string& command_line);

// The system's last-error code (GetLastError on Windows, errno on POSIX).
unsigned long last_error();

unsigned long process_id();
unsigned long thread_id();

// False only when the system says that no process of that id exists (one of another user
// is alive too; a process that has ended but not yet been waited for is not).
bool process_alive(unsigned long pid);

// Ends the process at once with the code: no exit-time destructors, no atexit functions,
// no stream flushing beyond what the caller did.
[[noreturn]] void exit_process_now(int code);

void sleep_ms(unsigned milliseconds);

// Full path of the running program.
std::string program_path();

// _spawnlp in no-wait mode: starts the program found along PATH with one argument (none
// when arg is empty) and does not wait. On Windows every "/" of the program's path
// becomes "\\". 0, or -1 when it cannot be started.
int spawn_no_wait(const std::string& program, const std::string& arg);

}  // namespace platform

#endif
