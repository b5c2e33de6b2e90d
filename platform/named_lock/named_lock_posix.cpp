// POSIX backend of named locks: an open-file-description lock (F_OFD_SETLK) on the lock
// file "<folder>/<name>.lock", behind an in-process recursive mutex. One state per lock
// file is shared by every NamedLock of the process, so two handles of one name exclude each
// other as two handles of one Windows mutex do, and the thread that holds it may wait for
// it again.
//
// The lock is a write lock, which only a descriptor open for writing can take; the lock
// file is made write-only (0222 less the file-creation mask), so a user who may not write
// it cannot open it at all and so cannot hold the installation's processes up. A child
// made by fork() shares its parent's open file description, and with it the lock: the
// child drops the inherited descriptor and opens the file again, so that it locks on its
// own.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "platform/named_lock/named_lock_backend.h"
#include "platform/files/shared_file_posix.h"

namespace platform {

namespace {

const mode_t lock_file_mode = 0222;

struct Shared {
  std::string path;
  int fd = -1;  // this process's open file description; -1 until (re)opened
  std::mutex guard;  // held briefly, never while waiting for the file lock
  std::condition_variable freed;
  std::thread::id owner;
  unsigned holds = 0;       // of the owning thread; the file lock is held while above 0
  unsigned generation = 0;  // moves on in a child after fork(): earlier holds are void
};

std::mutex registry_mutex;
std::map<std::string, std::shared_ptr<Shared>>& registry() {
  static auto* locks = new std::map<std::string, std::shared_ptr<Shared>>;
  return *locks;
}

// fork() copies the process with the calling thread only. The guards are taken around it
// so that none is copied in the middle of a change; the child then forgets every hold
// (the threads that held them are not there) and the inherited descriptors.
void before_fork() {
  registry_mutex.lock();
  for (auto& entry : registry()) entry.second->guard.lock();
}

void after_fork_in_parent() {
  for (auto& entry : registry()) entry.second->guard.unlock();
  registry_mutex.unlock();
}

void after_fork_in_child() {
  for (auto& entry : registry()) {
    Shared& s = *entry.second;
    // Closing the copy leaves the parent's lock alone: an open-file-description lock goes
    // only with the description's last descriptor, and the parent keeps its own.
    if (s.fd >= 0) close(s.fd);
    s.fd = -1;
    s.holds = 0;
    s.owner = std::thread::id();
    ++s.generation;
    new (&s.freed) std::condition_variable();  // its waiters were threads of the parent
    s.guard.unlock();
  }
  registry_mutex.unlock();
}

void watch_forks() {
  static std::once_flag once;
  std::call_once(once, [] { pthread_atfork(before_fork, after_fork_in_parent, after_fork_in_child); });
}

std::string file_name_for(const std::string& name) {
  std::string file = name;
  for (char& c : file)
    if (c == '/' || c == '\0') c = '_';
  return (file.empty() ? std::string("_") : file) + ".lock";
}

int open_lock_file(const std::string& path, SystemError* error) {
  return posix::open_shared_file(path, O_WRONLY | O_CREAT, lock_file_mode, error);
}

struct flock whole_file(short type) {
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  return range;
}

// A bounded wait blocks in the kernel as an unbounded one does, so that the waiters keep
// their turns, and a timer of the thread interrupts it at the deadline with this signal,
// whose handler does nothing. A program that has its own use for the signal, or blocks
// it, makes bounded waits poll instead.
int wake_signal() { return SIGRTMIN + 6; }
void on_wake(int) {}

bool wake_signal_ready() {
  static const bool ready = [] {
    struct sigaction current;
    if (sigaction(wake_signal(), nullptr, &current) != 0) return false;
    if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == on_wake) return true;
    if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) return false;
    struct sigaction action = {};
    action.sa_handler = on_wake;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the wait must end with EINTR
    return sigaction(wake_signal(), &action, nullptr) == 0;
  }();
  if (!ready) return false;
  sigset_t blocked;
  return pthread_sigmask(SIG_BLOCK, nullptr, &blocked) == 0 && !sigismember(&blocked, wake_signal());
}

// Interrupts the calling thread's blocking calls from the deadline on, every few
// milliseconds after it (one interruption might come before the call has begun).
class DeadlineTimer {
 public:
  explicit DeadlineTimer(std::chrono::steady_clock::duration remaining) {
    struct sigevent event = {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = wake_signal();
    event._sigev_un._tid = gettid();
    if (timer_create(CLOCK_MONOTONIC, &event, &timer_) != 0) return;
    armed_ = true;
    const long long ns = std::max<long long>(
        1, std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count());
    struct itimerspec spec = {};
    spec.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
    spec.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    spec.it_interval.tv_nsec = 20 * 1000000L;
    if (timer_settime(timer_, 0, &spec, nullptr) != 0) {
      timer_delete(timer_);
      armed_ = false;
    }
  }
  ~DeadlineTimer() {
    if (armed_) timer_delete(timer_);
  }
  DeadlineTimer(const DeadlineTimer&) = delete;
  DeadlineTimer& operator=(const DeadlineTimer&) = delete;
  bool armed() const { return armed_; }

 private:
  timer_t timer_{};
  bool armed_ = false;
};

bool poll_file_lock(int fd, struct flock* range, std::chrono::steady_clock::time_point deadline, bool* timed_out) {
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (fcntl(fd, F_OFD_SETLK, range) == 0) return true;
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) return false;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      *timed_out = true;
      return false;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    if (pause < std::chrono::milliseconds(50)) pause *= 2;
  }
}

// Takes the file lock; a bounded wait ends at the deadline with *timed_out set.
bool lock_file(int fd, std::chrono::steady_clock::time_point deadline, bool forever, bool* timed_out) {
  *timed_out = false;
  struct flock range = whole_file(F_WRLCK);
  if (forever) {
    while (fcntl(fd, F_OFD_SETLKW, &range) != 0)
      if (errno != EINTR) return false;
    return true;
  }
  // A free lock costs one call, as an unbounded wait does.
  if (fcntl(fd, F_OFD_SETLK, &range) == 0) return true;
  if (errno != EAGAIN && errno != EACCES && errno != EINTR) return false;
  const auto now = std::chrono::steady_clock::now();
  if (now >= deadline) {
    *timed_out = true;
    return false;
  }
  if (!wake_signal_ready()) return poll_file_lock(fd, &range, deadline, timed_out);
  DeadlineTimer timer(deadline - now);
  if (!timer.armed()) return poll_file_lock(fd, &range, deadline, timed_out);
  for (;;) {
    if (fcntl(fd, F_OFD_SETLKW, &range) == 0) return true;
    if (errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) {
      *timed_out = true;
      return false;
    }
  }
}

void unlock_file(int fd) {
  struct flock range = whole_file(F_UNLCK);
  fcntl(fd, F_OFD_SETLK, &range);
}

}  // namespace

struct LockHandle {
  std::shared_ptr<Shared> shared;
  unsigned holds = 0;  // this handle's share of the owner's holds
  unsigned generation = 0;
};

LockHandle* open_named_lock(const std::string& name, NamedLock::Access, const std::string& folder,
                            SystemError* failure) {
  if (folder.empty()) {
    *failure = SystemError{EINVAL, "lock " + name, "no folder for its lock file", false};
    return nullptr;
  }
  watch_forks();
  std::string path = folder + "/" + file_name_for(name);
  std::lock_guard<std::mutex> g(registry_mutex);
  std::shared_ptr<Shared>& slot = registry()[path];
  if (!slot) {
    int fd = open_lock_file(path, failure);
    if (fd < 0) {
      registry().erase(path);
      return nullptr;
    }
    slot = std::make_shared<Shared>();
    slot->path = path;
    slot->fd = fd;
  }
  LockHandle* lock = new LockHandle;
  lock->shared = slot;
  return lock;
}

void close_named_lock(LockHandle* lock) {
  while (lock->holds > 0 && lock->shared->owner == std::this_thread::get_id()) release_named_lock(lock);
  delete lock;
}

LockWait wait_named_lock(LockHandle* lock, unsigned long timeout_ms, SystemError* failure) {
  Shared& s = *lock->shared;
  const bool bounded = timeout_ms != NamedLock::forever;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(bounded ? timeout_ms : 0);
  const std::thread::id me = std::this_thread::get_id();

  std::unique_lock<std::mutex> g(s.guard);
  if (lock->generation != s.generation) lock->holds = 0;  // held before a fork()
  if (s.holds > 0 && s.owner == me) {
    ++s.holds;
    ++lock->holds;
    lock->generation = s.generation;
    return LockWait::acquired;
  }
  while (s.holds > 0) {
    if (!bounded) {
      s.freed.wait(g);
    } else if (s.freed.wait_until(g, deadline) == std::cv_status::timeout && s.holds > 0) {
      return LockWait::timed_out;
    }
  }
  if (s.fd < 0) s.fd = open_lock_file(s.path, failure);  // a child after fork()
  const int fd = s.fd;
  if (fd < 0) return LockWait::failed;
  s.owner = me;  // the other threads wait in-process while this one waits for the file
  s.holds = 1;
  const unsigned generation = s.generation;
  g.unlock();

  bool timed_out = false;
  const bool locked = lock_file(fd, deadline, !bounded, &timed_out);
  const int error = errno;

  g.lock();
  if (!locked) {
    s.holds = 0;
    s.owner = std::thread::id();
    s.freed.notify_one();
    if (timed_out) return LockWait::timed_out;
    *failure = SystemError{static_cast<unsigned long>(error), "fcntl F_OFD_SETLKW " + s.path, std::string(), false};
    return LockWait::failed;
  }
  ++lock->holds;
  lock->generation = generation;
  return LockWait::acquired;
}

void release_named_lock(LockHandle* lock) {
  if (lock->holds == 0) return;
  Shared& s = *lock->shared;
  std::lock_guard<std::mutex> g(s.guard);
  if (lock->generation != s.generation) {  // held before a fork(); this child never had it
    lock->holds = 0;
    return;
  }
  if (s.owner != std::this_thread::get_id()) return;
  --lock->holds;
  if (--s.holds == 0) {
    unlock_file(s.fd);
    s.owner = std::thread::id();
    s.freed.notify_one();
  }
}

namespace {

// The "lock:" lines of /proc/<pid>/fdinfo/<fd> name the open file description's locks by
// device and inode ("OFDLCK ADVISORY  WRITE -1 fe:00:1234 0 EOF"); the lock table itself
// gives no process id for such a lock.
bool holds_lock_on(const std::string& fdinfo, const std::string& file_id) {
  std::ifstream in(fdinfo);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, 5, "lock:") == 0 && line.find(" WRITE ") != std::string::npos &&
        line.find(" " + file_id + " ") != std::string::npos)
      return true;
  return false;
}

bool all_digits(const char* text) {
  if (!*text) return false;
  for (; *text; ++text)
    if (*text < '0' || *text > '9') return false;
  return true;
}

}  // namespace

unsigned long named_lock_holder(LockHandle* lock) {
  const Shared& s = *lock->shared;
  struct stat file;
  if (s.fd < 0 || fstat(s.fd, &file) != 0) return 0;
  char file_id[64];
  std::snprintf(file_id, sizeof file_id, "%02x:%02x:%lu", major(file.st_dev), minor(file.st_dev),
                static_cast<unsigned long>(file.st_ino));
  const pid_t me = getpid();
  DIR* processes = opendir("/proc");
  if (!processes) return 0;
  unsigned long holder = 0;
  while (struct dirent* process = readdir(processes)) {
    if (!all_digits(process->d_name) || std::strtol(process->d_name, nullptr, 10) == me) continue;
    const std::string base = std::string("/proc/") + process->d_name;
    DIR* fds = opendir((base + "/fd").c_str());
    if (!fds) continue;  // another user's process, or one that has gone
    while (struct dirent* fd = readdir(fds)) {
      if (!all_digits(fd->d_name)) continue;
      struct stat target;
      if (stat((base + "/fd/" + fd->d_name).c_str(), &target) != 0 || target.st_dev != file.st_dev ||
          target.st_ino != file.st_ino)
        continue;
      if (holds_lock_on(base + "/fdinfo/" + fd->d_name, file_id)) {
        holder = std::strtoul(process->d_name, nullptr, 10);
        break;
      }
    }
    closedir(fds);
    if (holder) break;
  }
  closedir(processes);
  return holder;
}

}  // namespace platform
