// POSIX backend of the process concept: posix_spawn on the split command line.
#include "platform/process/process.h"
#include "platform/process/process_exit.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <mutex>
#include <thread>
#include <vector>

extern char** environ;

namespace platform {

namespace {

// The program named by the first argument; "x.exe" runs "x" when only that exists, so
// that a command line written for Windows ("J/bin/java.exe") runs the POSIX program.
std::string resolve_program(const std::string& path) {
  struct stat st;
  const std::string exe = ".exe";
  if (stat(path.c_str(), &st) != 0 && path.size() > exe.size() &&
      path.compare(path.size() - exe.size(), exe.size(), exe) == 0) {
    std::string bare = path.substr(0, path.size() - exe.size());
    if (stat(bare.c_str(), &st) == 0) return bare;
  }
  return path;
}

// A parent that ignores SIGCHLD (or asks not to keep ended children) has the kernel reap
// them, and waitpid then finds no exit code. From the start of a child until it has been
// waited for, the default disposition is back, so that the child's code is kept; the child
// starts with the default too, as every program expects. The caller's disposition returns
// when no started child is left to wait for. Starts and waits on several threads count
// their children under one mutex, which the change of disposition is made under too.
struct sigaction saved_sigchld;
int children_keeping_status = 0;

std::mutex& child_status_mutex() {
  static std::mutex* mutex = new std::mutex;  // never destroyed: children are waited for at exit too
  return *mutex;
}

void keep_child_status() {
  std::lock_guard<std::mutex> hold(child_status_mutex());
  if (children_keeping_status++ > 0) return;
  struct sigaction current;
  if (sigaction(SIGCHLD, nullptr, &current) != 0 ||
      (current.sa_handler != SIG_IGN && !(current.sa_flags & SA_NOCLDWAIT))) {
    saved_sigchld.sa_handler = SIG_ERR;  // nothing to give back
    return;
  }
  struct sigaction keep;
  memset(&keep, 0, sizeof keep);
  keep.sa_handler = SIG_DFL;
  sigemptyset(&keep.sa_mask);
  if (sigaction(SIGCHLD, &keep, &saved_sigchld) != 0) saved_sigchld.sa_handler = SIG_ERR;
}

void release_child_status() {
  std::lock_guard<std::mutex> hold(child_status_mutex());
  if (--children_keeping_status > 0) return;
  if (saved_sigchld.sa_handler != SIG_ERR) sigaction(SIGCHLD, &saved_sigchld, nullptr);
}

Child spawn(const std::string& command_line, const std::string* in, const std::string* out,
            const std::string* err) {
  Child child;
  std::vector<std::string> args = split_command_line(command_line);
  if (args.empty()) {
    child.error = ENOENT;
    return child;
  }
  std::string program = resolve_program(args[0]);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in && !in->empty())
    posix_spawn_file_actions_addopen(&actions, 0, in->c_str(), O_RDONLY, 0);
  if (out && !out->empty())
    posix_spawn_file_actions_addopen(&actions, 1, out->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (err && !err->empty())
    posix_spawn_file_actions_addopen(&actions, 2, err->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

  keep_child_status();
  pid_t pid = 0;
  // A path with a slash runs that file; a bare name is looked up along PATH.
  int rc = program.find('/') != std::string::npos
               ? posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
               : posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    release_child_status();
    child.error = static_cast<unsigned long>(rc);
    errno = rc;
    return child;
  }
  child.started = true;
  child.handle = pid;
  return child;
}

}  // namespace

Child start_command_line(const std::string& command_line) {
  return spawn(command_line, nullptr, nullptr, nullptr);
}

void wait_for_exit(intptr_t handle, CommandResult& result) {
  const pid_t pid = static_cast<pid_t>(handle);
  int status = 0;
  pid_t w;
  do {
    w = waitpid(pid, &status, 0);
  } while (w < 0 && errno == EINTR);
  release_child_status();
  if (w != pid) return;
  if (WIFEXITED(status)) {
    result.exit_known = true;
    result.exit_code = static_cast<unsigned long>(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    result.exit_known = true;
    result.exit_code = 128ul + static_cast<unsigned long>(WTERMSIG(status));
  }
}

CommandResult run_command_line_redirected(const std::string& command_line,
                                          const std::string& stdin_path,
                                          const std::string& stdout_path,
                                          const std::string& stderr_path) {
  Child child = spawn(command_line, &stdin_path, &stdout_path, &stderr_path);
  return wait_for_child(child);
}

unsigned long last_error() { return static_cast<unsigned long>(errno); }

unsigned long process_id() { return static_cast<unsigned long>(getpid()); }

bool process_alive(unsigned long pid) {
  const pid_t id = static_cast<pid_t>(pid);
  if (id <= 0 || static_cast<unsigned long>(id) != pid) return false;
  if (kill(id, 0) != 0) return errno != ESRCH;
  // A child of this process that has ended but was not waited for still answers.
  char path[64];
  snprintf(path, sizeof path, "/proc/%ld/stat", static_cast<long>(id));
  FILE* stat = fopen(path, "r");
  if (!stat) return true;
  char line[512];
  const bool read = fgets(line, sizeof line, stat) != nullptr;
  fclose(stat);
  const char* name_end = read ? strrchr(line, ')') : nullptr;  // the state follows the name
  return !name_end || name_end[1] != ' ' || name_end[2] != 'Z';
}

unsigned long thread_id() { return static_cast<unsigned long>(syscall(SYS_gettid)); }

void exit_process_now(int code) { _exit(code); }

void sleep_ms(unsigned milliseconds) {
  struct timespec ts;
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

std::string program_path() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

int spawn_no_wait(const std::string& program, const std::string& arg) {
  std::vector<char*> argv;
  std::string p = program, a = arg;
  argv.push_back(&p[0]);
  if (!a.empty()) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, p.c_str(), nullptr, nullptr, argv.data(), environ);
  if (rc != 0) {
    errno = rc;
    return -1;
  }
  // Nobody waits for the child; a thread of its own collects its end, so that it does not
  // stay behind as a zombie.
  std::thread([pid] {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 0;
}

}  // namespace platform
