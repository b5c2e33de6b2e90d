// POSIX: a child that drops to user and group 65534 ("nobody") before it runs the program.
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/testing/user_testing.h"

namespace platform {
namespace testing {

bool run_as_other_user(const std::vector<std::string>& argv, OtherUserRun* run) {
  if (geteuid() != 0 || argv.empty()) return false;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int err_pipe[2];
  if (pipe(err_pipe) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    dup2(err_pipe[1], 2);
    close(err_pipe[0]);
    const gid_t nobody = 65534;
    if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
        setresuid(nobody, nobody, nobody) != 0)
      _exit(126);
    execv(args[0], args.data());
    _exit(127);
  }
  close(err_pipe[1]);
  run->err.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(err_pipe[0], buffer, sizeof buffer);
    if (n > 0) {
      run->err.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(err_pipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run->exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

}  // namespace testing
}  // namespace platform
